// remcons --mount as scripts run it: the built program serves images, ISO images and folders to
// the simulator's virtual-media side (in this process, or the mpsim program), with and without a
// console session; what the server read is checked with the real ISO and FAT tools, the events
// with Qt's JSON parser, and the exit statuses and their one-line reasons.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/MediaChecks.h"
#include "host/qt/HeadlessUtil.h"
#include "host/qt/VmChooserHeadless.h"
#include "sim/VmInitiator.h"
#include "ui/MenuBarLayout.h"
#include "vmedia/VmTestUtil.h"

namespace remcons {
namespace {

using testing::EventNames;
using testing::ReadText;
using vmtest::Quote;
using vmtest::TempDir;
using Strings = std::vector<std::string>;

const std::string kKey = "A0A1A2A3A4A5A6A7A8A9AAABACADAEAF";

sim::VmSimOptions ServerOptions() {
  sim::VmSimOptions o;
  o.enabled = true;
  for (int i = 0; i < 16; ++i) o.key[size_t(i)] = uint8_t(0xA0 + i);  // kKey
  return o;
}

// What a vmKey given with --param brings first: other users can read the command line.
const char kVmKeyWarning[] =
    "remcons: warning: --param vmKey can be read by other users of this machine; --user, "
    "--params-file or the connect dialog keep it to yourself";

Strings Lines(const std::string& text) {
  Strings lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// A built program started with its output into dir, without display or trace from the
// environment.
pid_t Start(const std::string& binary, std::vector<std::string> args, const TempDir& dir,
            const std::string& name = "") {
  args.insert(args.begin(), binary);
  return testing::StartProgram(args, {"REMCONS_TRACE", "DISPLAY", "WAYLAND_DISPLAY"},
                               dir / (name + "out.txt"), dir / (name + "err.txt"));
}

struct Outcome {
  int status = -1;
  std::string out, err;
  std::vector<QJsonObject> events;  // the --events file, each line parsed
  Strings raw;                      // its lines as written
};

// Runs remcons with args and --events into dir, and reads what it wrote; the vmKey warning, when
// first, is left out of err.
Outcome Remcons(const TempDir& dir, std::vector<std::string> args, int timeoutMs = 60000) {
  args.insert(args.end(), {"--events", dir / "events.json"});
  std::remove((dir / "events.json").c_str());
  Outcome r;
  r.status = testing::WaitProgram(Start(REMCONS_BINARY, args, dir), timeoutMs);
  r.out = ReadText(dir / "out.txt");
  r.err = ReadText(dir / "err.txt");
  const std::string warning = std::string(kVmKeyWarning) + "\n";
  if (r.err.starts_with(warning)) r.err.erase(0, warning.size());
  r.events = testing::ReadJsonLines(dir / "events.json", &r.raw);
  for (const QJsonObject& e : r.events) EXPECT_FALSE(e.isEmpty()) << "a line that is not JSON";
  return r;
}

// The options that point the mounts at a virtual-media port on loopback, after the others.
std::vector<std::string> Target(uint16_t vmPort, std::vector<std::string> before = {},
                                const std::string& key = kKey) {
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
  ASSERT_EQ(EventNames(r.events), (Strings{"Mount", "Unmount"})) << r.err;
  for (const QJsonObject& e : r.events) {
    EXPECT_EQ(Text(e, "kind"), kind);
    EXPECT_EQ(Text(e, "path"), path);
  }
  EXPECT_EQ(Text(r.events[0], "device"), device);
  EXPECT_EQ(Text(r.events[0], "result"), "ok");
  EXPECT_EQ(Text(r.events[1], "reason"), reason);
}

// Each wrong command line: status 2 and one line saying why (after the vmKey warning where one is
// given); --help documents the mount command lines.
TEST(RemconsMountOptions, ErrorsSayWhyInOneLineAndHelpDocumentsThem) {
  TempDir dir;
  const std::string kinds =
      "remcons: --mount needs KIND=PATH (image, cdimage, folder or drive), got ";
  const std::string session = " needs a console session (not with --vmedia-only)";
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--mount"}, "remcons: --mount needs a value"},
      {{"--mount", "floppy=/x.img"}, kinds + "\"floppy=/x.img\""},
      {{"--mount", "image="}, kinds + "\"image=\""},
      {{"--mount", "/x.iso"}, kinds + "\"/x.iso\""},
      {{"--vmedia-only"}, "remcons: --vmedia-only needs at least one --mount"},
      {{"--vmedia-only=yes", "--mount", "image=/x"}, "remcons: --vmedia-only takes no value"},
      {{"--vmedia-only", "--mount", "image=/x", "--script", "-"}, "remcons: --script" + session},
      {{"--vmedia-only", "--mount", "image=/x", "--snapshot", "/tmp/x.png"},
       "remcons: --snapshot" + session},
      {{"--vmedia-only", "--mount", "image=/x", "--param", "vmPort=70000"},
       "remcons: --param vmPort=70000 refused (unknown name or invalid value)"},
      {{"--vmedia-only", "--mount", "image=/x", "--param", "vmKey=123"},
       "remcons: --param vmKey=<3 characters hidden> refused (unknown name or invalid value)"},
  };
  for (const auto& [args, line] : cases) {
    EXPECT_EQ(testing::WaitProgram(Start(REMCONS_BINARY, args, dir), 60000), 2) << line;
    Strings lines = Lines(ReadText(dir / "err.txt"));
    if (!lines.empty() && lines[0] == kVmKeyWarning) lines.erase(lines.begin());
    EXPECT_EQ(lines, Strings{line});
    EXPECT_EQ(ReadText(dir / "out.txt"), "");
  }
  EXPECT_EQ(testing::WaitProgram(Start(REMCONS_BINARY, {"--help"}, dir), 60000), 0);
  const std::string help = ReadText(dir / "out.txt");
  for (const char* text :
       {"--mount KIND=PATH", "--vmedia-only", "image=FILE", "cdimage=FILE", "folder=DIR",
        "follow-links", "drive=DEVICE", "vmPort", "vmKey", "Mount", "Unmount"}) {
    EXPECT_NE(help.find(text), std::string::npos) << text;
  }
}

TEST(RemconsVmediaOnly, AnIsoIsServedByteForByte) {
  if (!vmtest::HaveTool("xorriso") || !vmtest::HaveTool("isoinfo")) {
    GTEST_SKIP() << "xorriso and isoinfo are needed";
  }
  TempDir dir;
  vmtest::WriteFile(dir / "tree/SETUP.EXE", vmtest::RandomBytes(400000, 51));
  vmtest::WriteText(dir / "tree/docs/README.TXT", "install with SETUP\r\n");
  const std::string iso = dir / "install.iso";
  std::string out;
  ASSERT_EQ(0, vmtest::Run(
                   "xorriso -as mkisofs -quiet -o " + Quote(iso) + " " + Quote(dir / "tree"), &out))
      << out;
  sim::VmSimOptions options = ServerOptions();
  options.dumpFile = dir / "dump.iso";
  sim::VmSimServer server(options);
  ASSERT_TRUE(server.Start());
  const Outcome r = Remcons(dir, Target(server.Port(), {"--vmedia-only", "--mount",
                                                        "cdimage=" + iso, "--seconds", "50"}));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.err.empty()) << r.err;
  ExpectServedAndEnded(r, "cdimage", iso, "CdImage", "Connection closed.");
  server.Stop();
  EXPECT_TRUE(server.LastSummary().ok) << server.LastSummary().error;
  EXPECT_EQ(server.LastSummary().blockLength, 2048u);
  EXPECT_EQ(vmtest::ReadFile(options.dumpFile), vmtest::ReadFile(iso));
  ASSERT_EQ(0, vmtest::Run("isoinfo -l -i " + Quote(options.dumpFile), &out)) << out;
  EXPECT_NE(out.find("SETUP.EXE"), std::string::npos) << out;
  EXPECT_NE(out.find("README.TXT"), std::string::npos) << out;
}

// Both real programs: mpsim's virtual-media side dumps what it reads of the folder's volume.
TEST(RemconsVmediaOnly, AFolderServedToMpsimPassesFsck) {
  if (!apptest::HaveFatTools()) GTEST_SKIP() << "fsck.fat and mcopy are needed";
  TempDir dir;
  vmtest::WriteFile(dir / "share/BIOS/update.bin", vmtest::RandomBytes(300000, 52));
  vmtest::WriteText(dir / "share/read me first.txt", "flash the BIOS from the shell\r\n");
  vmtest::WriteText(dir / "key", "secret");
  ASSERT_EQ(0, ::symlink("../key", (dir / "share/key").c_str()));  // left out, and counted
  const pid_t mpsim =
      Start(MPSIM_BINARY,
            {"--port", "0", "--vm-port", "0", "--vm-key", kKey, "--vm-dump", dir / "dump.img"}, dir,
            "mpsim-");
  std::string line;
  for (int n = 0; n < 1000 && line.empty(); ++n, usleep(20000)) {
    for (const std::string& l : Lines(ReadText(dir / "mpsim-out.txt"))) {
      if (l.starts_with("mpsim: virtual media on 127.0.0.1:")) line = l;
    }
  }
  ASSERT_FALSE(line.empty()) << ReadText(dir / "mpsim-err.txt");
  const uint16_t port = uint16_t(std::stoi(line.substr(line.rfind(':') + 1)));
  const Outcome r = Remcons(dir, Target(port, {"--vmedia-only", "--mount",
                                               "folder=" + (dir / "share"), "--seconds", "50"}));
  EXPECT_EQ(r.status, 0) << r.err;
  ExpectServedAndEnded(r, "folder", dir / "share", "Folder", "Connection closed.");
  EXPECT_EQ(r.events[0].value("linksLeftOut").toInt(), 1);
  kill(mpsim, SIGTERM);
  EXPECT_EQ(testing::WaitProgram(mpsim, 10000), 0) << ReadText(dir / "mpsim-err.txt");
  ::unlink((dir / "share/key").c_str());
  apptest::ExpectVolumeOfFolder(dir / "dump.img", dir / "share", dir / "copy");
}

TEST(RemconsVmediaOnly, SecondsEndAMountTheServerKeepsOpen) {
  TempDir dir;
  const std::string image = dir / "disk.img";
  vmtest::WriteFile(image, vmtest::RandomBytes(4u << 20, 54));
  sim::VmSimServer server(ServerOptions());
  std::atomic<bool> sawClose{false};
  server.SetSessionHandler([&](sim::VmInitiator& in) {
    // One request to see it served, then silence: the client's keepalives keep it open.
    const uint8_t testUnitReady[12] = {};
    sim::VmReply reply;
    EXPECT_TRUE(in.Command(testUnitReady, &reply));
    sawClose = in.WaitClosed(60000);
  });
  ASSERT_TRUE(server.Start());
  const Outcome r = Remcons(
      dir, Target(server.Port(), {"--vmedia-only", "--mount", "image=" + image, "--seconds", "3"}));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.err.empty()) << r.err;
  ExpectServedAndEnded(r, "image", image, "LargeDisk", "Unmounted.");
  ASSERT_TRUE(server.WaitSessions(1, 10000));
  EXPECT_TRUE(sawClose);
  server.Stop();
}

// A server that never answers the connect: --seconds, SIGINT and the console's end still end
// the program at once, and the mount is reported as not served.
TEST(RemconsVmediaOnly, AMountStillConnectingEndsWithTheRun) {
  vmtest::UnansweredPort unanswered;
  if (!unanswered.Silent()) GTEST_SKIP() << "loopback answered a connect to a full backlog";
  TempDir dir;
  const std::string image = dir / "floppy.img";
  vmtest::WriteFile(image, vmtest::RandomBytes(1474560, 62));
  const std::string reason =
      "remcons: mount image=" + image + " failed: Unmounted before it was served.";
  const std::string line = "{\"event\":\"Mount\",\"kind\":\"image\",\"path\":\"" + image +
                           "\",\"result\":\"Unmounted before it was served.\"}";
  {
    SCOPED_TRACE("--seconds");
    const Outcome r = Remcons(
        dir,
        Target(unanswered.port(), {"--vmedia-only", "--seconds", "1", "--mount", "image=" + image}),
        30000);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(Lines(r.err), Strings{reason});
    EXPECT_EQ(r.raw, Strings{line});
  }
  {
    SCOPED_TRACE("SIGINT");
    const pid_t pid =
        Start(REMCONS_BINARY,
              Target(unanswered.port(), {"--vmedia-only", "--trace", dir / "trace.txt", "--events",
                                         dir / "events.json", "--mount", "image=" + image}),
              dir);
    // Interrupted once it is connecting.
    for (int n = 0; n < 2000 && ReadText(dir / "trace.txt").find("Connecting to 127.0.0.1") ==
                                    std::string::npos;
         ++n) {
      usleep(10000);
    }
    kill(pid, SIGINT);
    EXPECT_EQ(testing::WaitProgram(pid, 30000), 1);
    EXPECT_EQ(Lines(ReadText(dir / "err.txt")), (Strings{kVmKeyWarning, reason}));
    EXPECT_EQ(Lines(ReadText(dir / "events.json")), Strings{line});
  }
  {
    SCOPED_TRACE("console");
    const Outcome r =
        Remcons(dir,
                {"--demo", "--headless", "--seconds", "2", "--mount", "image=" + image, "--param",
                 "vmPort=" + std::to_string(unanswered.port()), "--param", "vmKey=" + kKey},
                60000);
    EXPECT_EQ(r.status, 1);
    // After the demo's own lines (where its simulator listens).
    ASSERT_FALSE(Lines(r.err).empty());
    EXPECT_EQ(Lines(r.err).back(), reason);
    const Strings names = EventNames(r.events);
    // The stop at --seconds and the console thread's end each report the session closed; the
    // mount, given up as the run ends, is reported after them.
    EXPECT_EQ(std::count(names.begin(), names.end(), "OnShutdown"), 2);
    EXPECT_EQ(names.back(), "Mount");
    EXPECT_EQ(std::count(r.raw.begin(), r.raw.end(), line), 1);
  }
}

TEST(RemconsVmediaOnly, EachMountIsReportedInOrderAndTheFirstFailureIsTheReason) {
  TempDir dir;
  const std::string image = dir / "good.img";
  vmtest::WriteFile(image, vmtest::RandomBytes(1474560, 55));
  vmtest::MakeDirs(dir / "folder");
  sim::VmSimServer server(ServerOptions());
  server.SetSessionHandler([](sim::VmInitiator& in) { in.WaitClosed(60000); });
  ASSERT_TRUE(server.Start());
  const Outcome r = Remcons(
      dir, Target(server.Port(),
                  {"--vmedia-only", "--seconds", "2", "--mount", "image=" + (dir / "folder"),
                   "--mount", "image=" + image, "--mount", "folder=" + image, "--mount",
                   "cdimage=" + (dir / "none.iso"), "--mount", "drive=nosuchdisk9"}));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Lines(r.err),
            Strings{"remcons: mount image=" + (dir / "folder") + " failed: Is a directory"});
  // The others fail at once; the served one is unmounted when the time is up.
  ASSERT_EQ(EventNames(r.events),
            (Strings{"Mount", "Mount", "Mount", "Mount", "Mount", "Unmount"}));
  const std::pair<std::string, std::string> results[] = {
      {dir / "folder", "Is a directory"},
      {image, "ok"},
      {image, "Not a directory"},
      {dir / "none.iso", "No such file or directory"},
      {"nosuchdisk9", "no block device 'nosuchdisk9'"}};
  for (size_t i = 0; i < std::size(results); ++i) {
    EXPECT_EQ(Text(r.events[i], "path"), results[i].first);
    EXPECT_EQ(Text(r.events[i], "result"), results[i].second);
  }
  EXPECT_EQ(Text(r.events[5], "reason"), "Unmounted.");
  server.Stop();
}

// Each refusal is one line on stderr, one Mount event with the reason, and status 1.
TEST(RemconsVmediaOnly, RefusedMountsSayWhy) {
  TempDir dir;
  const std::string image = dir / "f.img";
  vmtest::WriteFile(image, vmtest::RandomBytes(4096, 56));
  const std::string secret = dir / "secret.img";
  vmtest::WriteFile(secret, vmtest::RandomBytes(4096, 57));
  ASSERT_EQ(chmod(secret.c_str(), 0), 0);
  sim::VmSimServer server(ServerOptions());
  ASSERT_TRUE(server.Start());
  const struct {
    std::string image;
    std::vector<std::string> params;
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
  };
  for (const auto& c : cases) {
    if (c.image == secret && geteuid() == 0) continue;
    std::vector<std::string> args = {"--vmedia-only", "--mount", "image=" + c.image};
    args.insert(args.end(), c.params.begin(), c.params.end());
    const Outcome r = Remcons(dir, args);
    EXPECT_EQ(r.status, 1) << c.result;
    EXPECT_EQ(Lines(r.err), Strings{"remcons: mount image=" + c.image + " failed: " + c.result});
    EXPECT_EQ(r.raw, Strings{"{\"event\":\"Mount\",\"kind\":\"image\",\"path\":\"" + c.image +
                             "\",\"result\":\"" + c.result + "\"}"});
  }
  // The wrong key reached the server, which refused its digest.
  EXPECT_TRUE(server.WaitSessions(1, 10000));
  EXPECT_EQ(server.BadDigests(), 1);
}

// Against the demo's own simulator: file names in any encoding give valid JSON (a Latin-1 name
// from an older locale, and a UTF-8 one), and a script waits for the mount through the console's
// own events.
TEST(RemconsDemo, MountsToItsOwnSimulator) {
  TempDir dir;
  const std::string latin1 = dir / "caf\xe9.img";
  const std::string utf8 = dir / "\xe3\x83\x87\xe3\x82\xa3\xe3\x82\xb9\xe3\x82\xaf.img";
  vmtest::WriteFile(latin1, vmtest::RandomBytes(1474560, 60));
  vmtest::WriteFile(utf8, vmtest::RandomBytes(1474560, 61));
  for (const std::string& image : {latin1, utf8}) {
    const Outcome r = Remcons(dir, {"--demo", "--vmedia-only", "--mount", "image=" + image});
    EXPECT_EQ(r.status, 0) << r.err;
    ExpectServedAndEnded(r, "image", image == latin1 ? dir / "caf\u00e9.img" : utf8, "FloppyImage",
                         "Connection closed.");
  }
  std::ofstream(dir / "script.txt") << "wait-event Mount 20000\nwait-event Unmount 30000\nstop\n";
  const Outcome console = Remcons(dir, {"--demo", "--headless", "--mount", "image=" + utf8,
                                        "--script", dir / "script.txt", "--seconds", "50"});
  EXPECT_EQ(console.status, 0) << console.err;
  Strings vm;
  for (const std::string& name : EventNames(console.events)) {
    if (name == "Mount" || name == "Unmount") vm.push_back(name);
  }
  EXPECT_EQ(vm, (Strings{"Mount", "Unmount"}));
  EXPECT_EQ(EventNames(console.events).back(), "OnShutdown");
}

// The headless console has no dialogs: the drive menu's image entry says how to mount instead.
TEST(RemconsHeadless, TheDriveMenusImageEntrySaysWhyItCannotAsk) {
  TempDir dir;
  constexpr int kWidth = 1024;  // the demo's screen
  const Rect media = layout::Button(BarButton::kMedia, kWidth);
  const Rect menu = layout::DriveMenu(kWidth, 3);
  const Rect image = layout::DriveButtonClick(0);
  auto centre = [](const Rect& r, int dx, int dy) {
    return std::to_string(dx + (r.left + r.right) / 2) + " " +
           std::to_string(dy + (r.top + r.bottom) / 2);
  };
  std::ofstream(dir / "script.txt")
      << "wait-event OnResize 10000\nmove " << centre(media, 0, 0)
      << "\npress left\nrelease left\nmove " << centre(image, menu.left, menu.top)
      << "\npress left\nrelease left\nwait-event MessageBox 10000\nstop\n";
  // uniqueFeatures 8: virtual media is authorized. The bar is laid out for the screen's width
  // from the start (it would follow the first picture's width only after OnResize).
  const Outcome r = Remcons(dir, {"--demo", "--headless", "--param", "uniqueFeatures=8", "--param",
                                  "width=" + std::to_string(kWidth), "--param", "height=768",
                                  "--script", dir / "script.txt", "--seconds", "50"});
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<QJsonObject> boxes;
  for (const QJsonObject& e : r.events) {
    EXPECT_NE(Text(e, "event"), "Mount");  // nothing was mounted
    if (Text(e, "event") == "MessageBox") boxes.push_back(e);
  }
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(Text(boxes[0], "caption"), "Error");
  EXPECT_EQ(Text(boxes[0], "text"), HeadlessVmChooser::Reason(VmKind::ImageFile));
  EXPECT_EQ(Text(boxes[0], "answer"), "OK");
}

TEST(RemconsConsole, MountsEndWithTheSession) {
  TempDir dir;
  const std::string iso = dir / "tools.iso";
  vmtest::WriteFile(iso, vmtest::RandomBytes(2048 * 64, 59));
  sim::VmSimServer server(ServerOptions());
  std::atomic<bool> sawClose{false};
  server.SetSessionHandler([&](sim::VmInitiator& in) { sawClose = in.WaitClosed(60000); });
  ASSERT_TRUE(server.Start());
  // The demo's console, with the drive on this server instead of the demo's own.
  const Outcome r = Remcons(
      dir, {"--demo", "--headless", "--mount", "cdimage=" + iso, "--seconds", "3", "--param",
            "vmPort=" + std::to_string(server.Port()), "--param", "vmKey=" + kKey});
  EXPECT_EQ(r.status, 0) << r.err;
  const Strings names = EventNames(r.events);
  ASSERT_GE(names.size(), 3u);
  // Unmounted as the session ended, after its end was reported.
  EXPECT_EQ(names.back(), "Unmount");
  EXPECT_EQ(Text(r.events.back(), "reason"), "Unmounted.");
  EXPECT_EQ(std::count(names.begin(), names.end(), "Mount"), 1);
  EXPECT_NE(std::find(names.begin(), names.end(), "OnShutdown"), names.end());
  ASSERT_TRUE(server.WaitSessions(1, 10000));
  EXPECT_TRUE(sawClose);
  server.Stop();
}

}  // namespace
}  // namespace remcons
