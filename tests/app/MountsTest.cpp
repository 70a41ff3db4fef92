// remcons --mount as scripts run it: the built program serves images, ISO images and folders to
// the simulator's virtual-media side (in this process, or the mpsim program), with and without a
// console session; what the server read is checked with the real FAT tools, the events
// with Qt's JSON parser, and the exit statuses and their one-line reasons.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>

#include "host/qt/HeadlessUtil.h"
#include "host/qt/VmChooserHeadless.h"
#include "ui/MenuBarLayout.h"
#include "vmedia/VmHarness.h"

namespace remcons {
namespace {

using testing::EventNames;
using testing::Lines;
using testing::ReadText;
using vmtest::Quote;
using vmtest::TempDir;
using Strings = std::vector<std::string>;

const std::string kKey = "A0A1A2A3A4A5A6A7A8A9AAABACADAEAF";  // vmtest::SimOptions()'s

// What a vmKey given with --param brings first: other users can read the command line.
const char kVmKeyWarning[] =
    "remcons: warning: --param vmKey can be read by other users of this machine; --user, "
    "--params-file or the connect dialog keep it to yourself";

// A built program started with its output into dir, without display or trace.
pid_t Start(const std::string& binary, std::vector<std::string> args, const TempDir& dir,
            const std::string& name = "") {
  args.insert(args.begin(), binary);
  return testing::StartProgram(args, {"REMCONS_TRACE", "DISPLAY", "WAYLAND_DISPLAY"},
                               dir / (name + "out.txt"), dir / (name + "err.txt"));
}

struct Outcome {
  int status = -1;
  Strings err;                      // without the vmKey warning when it comes first
  std::vector<QJsonObject> events;  // the --events file, each line parsed
  Strings raw;                      // its lines as written
};

// Runs remcons with --events into dir (during runs while it does) and reads what it wrote.
Outcome Remcons(const TempDir& dir, Strings args, std::function<void(pid_t)> during = {}) {
  args.insert(args.begin(), {"--events", dir / "events.json"});
  std::remove((dir / "events.json").c_str());
  Outcome r;
  const pid_t pid = Start(REMCONS_BINARY, args, dir);
  if (during) during(pid);
  r.status = testing::WaitProgram(pid, 60000);
  r.err = Lines(ReadText(dir / "err.txt"));
  if (!r.err.empty() && r.err[0] == kVmKeyWarning) r.err.erase(r.err.begin());
  r.events = testing::ReadJsonLines(dir / "events.json", &r.raw);
  for (const QJsonObject& e : r.events) EXPECT_FALSE(e.isEmpty()) << "a line that is not JSON";
  return r;
}

// The options that point the mounts at a virtual-media port on loopback, after the others.
Strings Target(uint16_t vmPort, Strings before = {}, const std::string& key = kKey) {
  before.insert(before.end(), {"--param", "target=127.0.0.1", "--param",
                               "vmPort=" + std::to_string(vmPort), "--param", "vmKey=" + key});
  return before;
}

std::string Text(const QJsonObject& o, const char* name) {
  return o.value(name).toString().toStdString();
}

// The one Mount and one Unmount of a single served medium.
void ExpectServedAndEnded(const Outcome& r, const std::string& kind, const std::string& path,
                          const std::string& device, const std::string& reason) {
  ASSERT_EQ(EventNames(r.events), (Strings{"Mount", "Unmount"})) << r.err.size();
  for (const QJsonObject& e : r.events) EXPECT_EQ(Text(e, "kind") + Text(e, "path"), kind + path);
  EXPECT_EQ(Text(r.events[0], "device") + " " + Text(r.events[0], "result"), device + " ok");
  EXPECT_EQ(Text(r.events[1], "reason"), reason);
}

// Each wrong command line: status 2 and one line saying why.
TEST(RemconsMountOptions, ErrorsSayWhyInOneLine) {
  TempDir dir;
  const std::string kinds =
      "remcons: --mount needs KIND=PATH (image, cdimage, folder or drive), got ";
  const std::string session = " needs a console session (not with --vmedia-only)";
  const std::pair<Strings, std::string> cases[] = {
      {{"--mount"}, "remcons: --mount needs a value"},
      {{"--mount", "floppy=/x.img"}, kinds + "\"floppy=/x.img\""},
      {{"--vmedia-only"}, "remcons: --vmedia-only needs at least one --mount"},
      {{"--vmedia-only=yes", "--mount", "image=/x"}, "remcons: --vmedia-only takes no value"},
      {{"--vmedia-only", "--mount", "image=/x", "--script", "-"}, "remcons: --script" + session},
      {{"--vmedia-only", "--mount", "image=/x", "--param", "vmKey=123"},
       "remcons: --param vmKey=<3 characters hidden> refused (unknown name or invalid value)"},
  };
  for (const auto& [args, line] : cases) {
    const Outcome r = Remcons(dir, args);
    EXPECT_EQ(r.status, 2) << line;
    EXPECT_EQ(r.err, Strings{line});
    EXPECT_EQ(ReadText(dir / "out.txt"), "");
  }
}

// Both real programs: mpsim's virtual-media side dumps what it reads of the folder's volume.
TEST(RemconsVmediaOnly, AFolderServedToMpsimPassesFsck) {
  if (!vmtest::HaveFatTools()) GTEST_SKIP() << "fsck.fat, mdir and mcopy are needed";
  TempDir dir;
  const std::string share = dir / "\xe3\x83\x87\xe3\x82\xa3\xe3\x82\xb9\xe3\x82\xaf";  // UTF-8
  vmtest::WriteFile(share + "/BIOS/update.bin", vmtest::RandomBytes(300000, 52));
  vmtest::WriteText(share + "/read me first.txt", "flash the BIOS from the shell\r\n");
  vmtest::WriteText(dir / "key", "secret");
  ASSERT_EQ(0, ::symlink("../key", (share + "/key").c_str()));  // left out, and counted
  const pid_t mpsim =
      Start(MPSIM_BINARY,
            {"--port", "0", "--vm-port", "0", "--vm-key", kKey, "--vm-dump", dir / "dump.img"}, dir,
            "mpsim-");
  const std::string line =
      testing::WaitForLine(dir / "mpsim-out.txt", "mpsim: virtual media on 127.0.0.1:");
  ASSERT_FALSE(line.empty()) << ReadText(dir / "mpsim-err.txt");
  const uint16_t port = uint16_t(std::stoi(line.substr(line.rfind(':') + 1)));
  const Outcome r = Remcons(
      dir, Target(port, {"--vmedia-only", "--mount", "folder=" + share, "--seconds", "50"}));
  EXPECT_EQ(r.status, 0);
  ExpectServedAndEnded(r, "folder", share, "Folder", "Connection closed.");
  EXPECT_EQ(r.events[0].value("linksLeftOut").toInt(), 1);
  kill(mpsim, SIGTERM);
  EXPECT_EQ(testing::WaitProgram(mpsim, 10000), 0) << ReadText(dir / "mpsim-err.txt");
  ::unlink((share + "/key").c_str());
  vmtest::CheckFatImage(share, dir / "dump.img");
}

// Every mount is reported in order, the first failure is the reason, and the one served (which
// the server keeps open) is unmounted when --seconds is up.
TEST(RemconsVmediaOnly, EachMountIsReportedInOrderAndTheFirstFailureIsTheReason) {
  TempDir dir;
  const std::string image = dir / "good.img";
  vmtest::WriteFile(image, vmtest::RandomBytes(1474560, 55));
  vmtest::MakeDirs(dir / "folder");
  sim::VmSimServer server(vmtest::SimOptions());
  std::atomic<bool> served{false}, sawClose{false};
  server.SetSessionHandler([&](sim::VmInitiator& in) {
    const uint8_t testUnitReady[12] = {};
    sim::VmReply reply;
    served = in.Command(testUnitReady, &reply);
    sawClose = in.WaitClosed(60000);
  });
  ASSERT_TRUE(server.Start());
  const Outcome r = Remcons(
      dir, Target(server.Port(),
                  {"--vmedia-only", "--seconds", "2", "--mount", "image=" + (dir / "folder"),
                   "--mount", "image=" + image, "--mount", "folder=" + image, "--mount",
                   "cdimage=" + (dir / "none.iso"), "--mount", "drive=nosuchdisk9"}));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, Strings{"remcons: mount image=" + (dir / "folder") + " failed: Is a directory"});
  ASSERT_EQ(EventNames(r.events),
            (Strings{"Mount", "Mount", "Mount", "Mount", "Mount", "Unmount"}));
  const std::pair<std::string, std::string> results[] = {
      {dir / "folder", "Is a directory"},
      {image, "ok"},
      {image, "Not a directory"},
      {dir / "none.iso", "No such file or directory"},
      {"nosuchdisk9", "no block device 'nosuchdisk9'"},
      {image, ""}};
  for (size_t i = 0; i < std::size(results); ++i) {
    EXPECT_EQ(Text(r.events[i], "path"), results[i].first);
    EXPECT_EQ(Text(r.events[i], "result"), results[i].second);
  }
  EXPECT_EQ(Text(r.events[5], "reason"), "Unmounted.");
  ASSERT_TRUE(server.WaitSessions(1, 10000));
  EXPECT_TRUE(served && sawClose);
  server.Stop();
}

// Each refusal is one line on stderr, one Mount event with the reason, and status 1; a server
// that never answers the connect leaves the mount unserved when --seconds or SIGINT ends the run.
TEST(RemconsVmediaOnly, RefusedAndUnservedMountsSayWhy) {
  TempDir dir;
  const std::string image = dir / "f.img";
  vmtest::WriteFile(image, vmtest::RandomBytes(4096, 56));
  const std::string secret = dir / "secret.img";
  vmtest::WriteFile(secret, vmtest::RandomBytes(4096, 57));
  ASSERT_EQ(chmod(secret.c_str(), 0), 0);
  sim::VmSimServer server(vmtest::SimOptions());
  ASSERT_TRUE(server.Start());
  vmtest::UnansweredPort unanswered;
  const std::string unserved = "Unmounted before it was served.";
  const struct {
    std::string image;
    Strings params;
    std::string result;
  } cases[] = {
      {image,
       {"--param", "target=127.0.0.1", "--param", "vmPort=623"},
       "no virtual-media key: give vmKey (32 hexadecimal digits)"},
      {image,
       {"--param", "target=127.0.0.1", "--param", "vmKey=" + kKey},
       "no virtual-media port: give vmPort"},
      {image,
       {"--param", "vmPort=623", "--param", "vmKey=" + kKey},
       "no target: give the management processor's address as target"},
      {image, Target(623, {}, "VMKEYREFUSEDQQQQQQQQQQQQQQQQQQQQ"),
       "virtual media is not authorized for this session (vmKey)"},
      {image, Target(server.Port(), {}, "0123456789ABCDEF0123456789ABCDEF"),
       "Invalid session key."},
      {secret, Target(623), "Permission denied"},  // not for root, who reads every file
      {image, Target(unanswered.port(), {"--seconds", "1"}), unserved},
      {image, Target(unanswered.port(), {"--trace", dir / "trace.txt"}), unserved},  // SIGINT
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.result);
    const bool silent = c.result == unserved;
    if ((c.image == secret && geteuid() == 0) || (silent && !unanswered.Silent())) continue;
    Strings args = {"--vmedia-only", "--mount", "image=" + c.image};
    args.insert(args.end(), c.params.begin(), c.params.end());
    // The run with a trace is interrupted once it is connecting.
    const Outcome r = Remcons(dir, args, [&](pid_t pid) {
      const bool traced = std::count(c.params.begin(), c.params.end(), dir / "trace.txt") > 0;
      for (int n = 0; n < 2000 && traced; ++n, usleep(10000)) {
        if (ReadText(dir / "trace.txt").find("Connecting to 127.0.0.1") != std::string::npos)
          return (void)kill(pid, SIGINT);
      }
    });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, Strings{"remcons: mount image=" + c.image + " failed: " + c.result});
    EXPECT_EQ(r.raw, Strings{"{\"event\":\"Mount\",\"kind\":\"image\",\"path\":\"" + c.image +
                             "\",\"result\":\"" + c.result + "\"}"});
  }
  // The wrong key reached the server, which refused its digest.
  EXPECT_TRUE(server.WaitSessions(1, 10000));
  EXPECT_EQ(server.BadDigests(), 1);
}

// The demo's console with a mount: served to a server here and unmounted as the session ends,
// after its end was reported; to a server that never answers, given up as the run ends. The
// headless console has no dialogs: the drive menu's image entry says how to mount instead.
TEST(RemconsConsole, MountsEndWithTheSession) {
  TempDir dir;
  const std::string iso = dir / "tools.iso";
  vmtest::WriteFile(iso, vmtest::RandomBytes(2048 * 64, 59));
  sim::VmSimServer server(vmtest::SimOptions());
  std::atomic<bool> sawClose{false};
  server.SetSessionHandler([&](sim::VmInitiator& in) { sawClose = in.WaitClosed(60000); });
  ASSERT_TRUE(server.Start());
  vmtest::UnansweredPort unanswered;
  constexpr int kWidth = 1024;  // the demo's screen, laid out from the start
  const Rect menu = layout::DriveMenu(kWidth, 3);
  auto centre = [](const Rect& r, int dx = 0, int dy = 0) {
    return std::to_string(dx + (r.left + r.right) / 2) + " " +
           std::to_string(dy + (r.top + r.bottom) / 2);
  };
  std::ofstream(dir / "script.txt")
      << "wait-event OnResize 10000\nmove " << centre(layout::Button(BarButton::kMedia, kWidth))
      << "\npress left\nrelease left\nmove "
      << centre(layout::DriveButtonClick(0), menu.left, menu.top)
      << "\npress left\nrelease left\nwait-event MessageBox 10000\n";
  for (const uint16_t port : {server.Port(), unanswered.port()}) {
    const bool served = port == server.Port();
    if (!served && !unanswered.Silent()) continue;
    // uniqueFeatures 8: virtual media is authorized.
    const Outcome r =
        Remcons(dir, {"--demo", "--headless", "--mount", "cdimage=" + iso, "--seconds", "3",
                      "--param", "vmPort=" + std::to_string(port), "--param", "vmKey=" + kKey,
                      "--param", "uniqueFeatures=8", "--param", "width=" + std::to_string(kWidth),
                      "--param", "height=768", "--script", dir / "script.txt"});
    EXPECT_EQ(r.status, served ? 0 : 1);
    const Strings names = EventNames(r.events);
    ASSERT_GE(names.size(), 3u);
    EXPECT_EQ(std::count(names.begin(), names.end(), "Mount"), 1);
    // The stop at --seconds and the console thread's end each report the session closed.
    EXPECT_EQ(std::count(names.begin(), names.end(), "OnShutdown"), 2);
    EXPECT_EQ(names.back(), served ? "Unmount" : "Mount");
    EXPECT_EQ(Text(r.events.back(), served ? "reason" : "result"),
              served ? "Unmounted." : "Unmounted before it was served.");
    if (!served) {
      EXPECT_EQ(r.err.back(),
                "remcons: mount cdimage=" + iso + " failed: Unmounted before it was served.");
    }
    std::vector<QJsonObject> boxes;
    for (const QJsonObject& e : r.events)
      if (Text(e, "event") == "MessageBox") boxes.push_back(e);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(Text(boxes[0], "caption") + ": " + Text(boxes[0], "text"),
              "Error: " + HeadlessVmChooser::Reason(VmKind::ImageFile));
  }
  ASSERT_TRUE(server.WaitSessions(1, 10000));
  EXPECT_TRUE(sawClose);
  server.Stop();
}

}  // namespace
}  // namespace remcons
