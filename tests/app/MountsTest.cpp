// remcons --mount as scripts run it: the built program serves images, ISO images and folders to
// the simulator's virtual-media side (in this process, or the mpsim program), with and without a
// console session; what the server read is checked with the real ISO and FAT tools, the events
// with Qt's JSON parser, and the exit statuses and their one-line reasons.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "app/MediaChecks.h"
#include "app/Program.h"
#include "host/qt/VmChooserHeadless.h"
#include "sim/VmInitiator.h"
#include "support/Wait.h"
#include "ui/MenuBarLayout.h"
#include "vmedia/VmTestUtil.h"

namespace remcons {
namespace {

using apptest::Lines;
using apptest::Program;
using vmtest::Quote;
using vmtest::TempDir;

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

struct Outcome {
  int status = -1;
  std::string out, err;
  std::vector<QJsonObject> events;  // the --events file, each line parsed
  std::vector<std::string> raw;     // its lines as written
};

// Runs remcons with args and --events into dir, and reads what it wrote.
Outcome Remcons(const TempDir& dir, std::vector<std::string> args, int timeoutMs = 60000) {
  args.push_back("--events");
  args.push_back(dir / "events.json");
  std::remove((dir / "events.json").c_str());
  Program program(REMCONS_BINARY, args, dir / "out.txt", dir / "err.txt");
  Outcome r;
  r.status = program.Wait(timeoutMs);
  r.out = program.out();
  // A vmKey given with --param brings its warning first (asserted where a program is run below).
  r.err = program.err();
  const std::string warning = std::string(kVmKeyWarning) + "\n";
  if (r.err.rfind(warning, 0) == 0) r.err.erase(0, warning.size());
  r.raw = Lines(apptest::ReadText(dir / "events.json"));
  for (const std::string& line : r.raw) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << line;
    r.events.push_back(doc.object());
  }
  return r;
}

// The options that point the mounts at a virtual-media port on loopback.
std::vector<std::string> Target(uint16_t vmPort, const std::string& key = kKey) {
  return {"--param", "target=127.0.0.1", "--param", "vmPort=" + std::to_string(vmPort),
          "--param", "vmKey=" + key};
}

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::string Text(const QJsonObject& o, const char* name) {
  return o.value(name).toString().toStdString();
}

std::vector<std::string> Names(const std::vector<QJsonObject>& events) {
  std::vector<std::string> names;
  for (const QJsonObject& e : events) names.push_back(Text(e, "event"));
  return names;
}

// The one Mount and one Unmount of a single served medium.
void ExpectServedAndEnded(const Outcome& r, const std::string& kind, const std::string& path,
                          const std::string& device, const std::string& reason) {
  ASSERT_EQ(Names(r.events), (std::vector<std::string>{"Mount", "Unmount"})) << r.err;
  EXPECT_EQ(Text(r.events[0], "kind"), kind);
  EXPECT_EQ(Text(r.events[0], "path"), path);
  EXPECT_EQ(Text(r.events[0], "device"), device);
  EXPECT_EQ(Text(r.events[0], "result"), "ok");
  EXPECT_EQ(Text(r.events[1], "kind"), kind);
  EXPECT_EQ(Text(r.events[1], "path"), path);
  EXPECT_EQ(Text(r.events[1], "reason"), reason);
}

TEST(RemconsMountOptions, ErrorsSayWhyInOneLine) {
  TempDir dir;
  struct Case {
    std::vector<std::string> args;
    std::string line;
  } cases[] = {
      {{"--mount"}, "remcons: --mount needs a value"},
      {{"--mount", "floppy=/x.img"},
       "remcons: --mount needs KIND=PATH (image, cdimage, folder or drive), got \"floppy=/x.img\""},
      {{"--mount", "image="},
       "remcons: --mount needs KIND=PATH (image, cdimage, folder or drive), got \"image=\""},
      {{"--mount", "/x.iso"},
       "remcons: --mount needs KIND=PATH (image, cdimage, folder or drive), got \"/x.iso\""},
      {{"--vmedia-only"}, "remcons: --vmedia-only needs at least one --mount"},
      {{"--vmedia-only=yes", "--mount", "image=/x"}, "remcons: --vmedia-only takes no value"},
      {{"--vmedia-only", "--mount", "image=/x", "--script", "-"},
       "remcons: --script needs a console session (not with --vmedia-only)"},
      {{"--vmedia-only", "--mount", "image=/x", "--snapshot", "/tmp/x.png"},
       "remcons: --snapshot needs a console session (not with --vmedia-only)"},
      {{"--vmedia-only", "--mount", "image=/x", "--param", "vmPort=70000"},
       "remcons: --param vmPort=70000 refused (unknown name or invalid value)"},
      {{"--vmedia-only", "--mount", "image=/x", "--param", "vmKey=123"},
       "remcons: --param vmKey=<3 characters hidden> refused (unknown name or invalid value)"},
  };
  for (const Case& c : cases) {
    Program program(REMCONS_BINARY, c.args, dir / "out.txt", dir / "err.txt");
    EXPECT_EQ(program.Wait(), 2) << c.line;
    std::vector<std::string> lines = Lines(program.err());
    // A secret given with --param is warned about first.
    if (!lines.empty() && lines[0] == kVmKeyWarning) lines.erase(lines.begin());
    ASSERT_EQ(lines.size(), 1u) << program.err();
    EXPECT_EQ(lines[0], c.line);
    EXPECT_TRUE(program.out().empty()) << program.out();
  }
}

TEST(RemconsMountOptions, HelpDocumentsTheMountCommandLines) {
  TempDir dir;
  Program program(REMCONS_BINARY, {"--help"}, dir / "out.txt", dir / "err.txt");
  EXPECT_EQ(program.Wait(), 0);
  const std::string help = program.out();
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
  const Outcome r =
      Remcons(dir, Concat({"--vmedia-only", "--mount", "cdimage=" + iso, "--seconds", "50"},
                          Target(server.Port())));
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
  Program mpsim(MPSIM_BINARY,
                {"--port", "0", "--vm-port", "0", "--vm-key", kKey, "--vm-dump", dir / "dump.img"},
                dir / "mpsim-out.txt", dir / "mpsim-err.txt");
  const std::string line = mpsim.WaitForLine("mpsim: virtual media on 127.0.0.1:");
  ASSERT_FALSE(line.empty()) << mpsim.err();
  const uint16_t port = uint16_t(std::stoi(line.substr(line.rfind(':') + 1)));
  const Outcome r = Remcons(
      dir, Concat({"--vmedia-only", "--mount", "folder=" + (dir / "share"), "--seconds", "50"},
                  Target(port)));
  EXPECT_EQ(r.status, 0) << r.err;
  ExpectServedAndEnded(r, "folder", dir / "share", "Folder", "Connection closed.");
  EXPECT_EQ(r.events[0].value("linksLeftOut").toInt(), 1);
  mpsim.Signal(SIGTERM);
  EXPECT_EQ(mpsim.Wait(10000), 0) << mpsim.err();
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
  const Outcome r =
      Remcons(dir, Concat({"--vmedia-only", "--mount", "image=" + image, "--seconds", "3"},
                          Target(server.Port())));
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
  const std::vector<std::string> mount =
      Concat({"--mount", "image=" + image}, Target(unanswered.port()));
  const std::string reason =
      "remcons: mount image=" + image + " failed: Unmounted before it was served.";
  const std::string line = "{\"event\":\"Mount\",\"kind\":\"image\",\"path\":\"" + image +
                           "\",\"result\":\"Unmounted before it was served.\"}";
  {
    SCOPED_TRACE("--seconds");
    const Outcome r = Remcons(dir, Concat({"--vmedia-only", "--seconds", "1"}, mount), 30000);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(Lines(r.err), std::vector<std::string>{reason});
    EXPECT_EQ(r.raw, std::vector<std::string>{line});
  }
  {
    SCOPED_TRACE("SIGINT");
    Program program(
        REMCONS_BINARY,
        Concat({"--vmedia-only", "--trace", dir / "trace.txt", "--events", dir / "events.json"},
               mount),
        dir / "out.txt", dir / "err.txt");
    // Interrupted once it is connecting.
    ASSERT_TRUE(testing::WaitUntil(
        [&] {
          return apptest::ReadText(dir / "trace.txt").find("Connecting to 127.0.0.1") !=
                 std::string::npos;
        },
        20000));
    program.Signal(SIGINT);
    EXPECT_EQ(program.Wait(30000), 1);
    EXPECT_EQ(Lines(program.err()), (std::vector<std::string>{kVmKeyWarning, reason}));
    EXPECT_EQ(Lines(apptest::ReadText(dir / "events.json")), std::vector<std::string>{line});
  }
  {
    SCOPED_TRACE("console");
    const Outcome r = Remcons(
        dir,
        Concat(
            {"--demo", "--headless", "--seconds", "2", "--mount", "image=" + image},
            {"--param", "vmPort=" + std::to_string(unanswered.port()), "--param", "vmKey=" + kKey}),
        60000);
    EXPECT_EQ(r.status, 1);
    // After the demo's own lines (where its simulator listens).
    ASSERT_FALSE(Lines(r.err).empty());
    EXPECT_EQ(Lines(r.err).back(), reason);
    const std::vector<std::string> names = Names(r.events);
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
      dir, Concat({"--vmedia-only", "--seconds", "2", "--mount", "image=" + (dir / "folder"),
                   "--mount", "image=" + image, "--mount", "folder=" + image, "--mount",
                   "cdimage=" + (dir / "none.iso"), "--mount", "drive=nosuchdisk9"},
                  Target(server.Port())));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Lines(r.err), std::vector<std::string>{"remcons: mount image=" + (dir / "folder") +
                                                   " failed: Is a directory"});
  // The others fail at once; the served one is unmounted when the time is up.
  ASSERT_EQ(Names(r.events),
            (std::vector<std::string>{"Mount", "Mount", "Mount", "Mount", "Mount", "Unmount"}));
  const std::vector<std::pair<std::string, std::string>> results = {
      {dir / "folder", "Is a directory"},
      {image, "ok"},
      {image, "Not a directory"},
      {dir / "none.iso", "No such file or directory"},
      {"nosuchdisk9", "no block device 'nosuchdisk9'"}};
  for (size_t i = 0; i < results.size(); ++i) {
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
  const std::string wrongKey = "0123456789ABCDEF0123456789ABCDEF";
  struct Case {
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
      {image, Target(623, "VMKEYREFUSEDQQQQQQQQQQQQQQQQQQQQ"),
       "virtual media is not authorized for this session (vmKey)"},
      {image, Target(server.Port(), wrongKey), "Invalid session key."},
      {secret, Target(623), "Permission denied"},  // not for root, who reads every file
  };
  for (const Case& c : cases) {
    if (c.image == secret && geteuid() == 0) continue;
    const Outcome r =
        Remcons(dir, Concat({"--vmedia-only", "--mount", "image=" + c.image}, c.params));
    EXPECT_EQ(r.status, 1) << c.result;
    EXPECT_EQ(Lines(r.err),
              std::vector<std::string>{"remcons: mount image=" + c.image + " failed: " + c.result});
    EXPECT_EQ(r.raw,
              std::vector<std::string>{"{\"event\":\"Mount\",\"kind\":\"image\",\"path\":\"" +
                                       c.image + "\",\"result\":\"" + c.result + "\"}"});
  }
  // The wrong key reached the server, which refused its digest.
  EXPECT_TRUE(server.WaitSessions(1, 10000));
  EXPECT_EQ(server.BadDigests(), 1);
}

TEST(RemconsVmediaOnly, FileNamesInAnyEncodingGiveValidJson) {
  TempDir dir;
  // A Latin-1 name from an older locale, and a UTF-8 one.
  const std::string latin1 = dir / "caf\xe9.img";
  const std::string utf8 = dir / "\xe3\x83\x87\xe3\x82\xa3\xe3\x82\xb9\xe3\x82\xaf.img";
  vmtest::WriteFile(latin1, vmtest::RandomBytes(1474560, 60));
  vmtest::WriteFile(utf8, vmtest::RandomBytes(1474560, 61));
  for (const std::string& image : {latin1, utf8}) {
    const Outcome r = Remcons(dir, {"--demo", "--vmedia-only", "--mount", "image=" + image});
    EXPECT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(r.events.size(), 2u);  // each line parsed without error, or Remcons says so
    for (const QJsonObject& e : r.events) {
      EXPECT_EQ(e.value("path").toString(), image == latin1
                                                ? QString::fromStdString(dir / "caf\u00e9.img")
                                                : QString::fromStdString(utf8));
    }
  }
}

TEST(RemconsDemo, MountsToItsOwnSimulator) {
  TempDir dir;
  const std::string image = dir / "floppy.img";
  vmtest::WriteFile(image, vmtest::RandomBytes(1474560, 58));
  const Outcome alone = Remcons(dir, {"--demo", "--vmedia-only", "--mount", "image=" + image});
  EXPECT_EQ(alone.status, 0) << alone.err;
  ExpectServedAndEnded(alone, "image", image, "FloppyImage", "Connection closed.");

  // With the console: a script waits for the mount through the console's own events.
  {
    std::ofstream script(dir / "script.txt");
    script << "wait-event Mount 20000\nwait-event Unmount 30000\nstop\n";
  }
  const Outcome console = Remcons(dir, {"--demo", "--headless", "--mount", "image=" + image,
                                        "--script", dir / "script.txt", "--seconds", "50"});
  EXPECT_EQ(console.status, 0) << console.err;
  std::vector<std::string> vm;
  for (const QJsonObject& e : console.events) {
    const std::string name = Text(e, "event");
    if (name == "Mount" || name == "Unmount") vm.push_back(name);
  }
  EXPECT_EQ(vm, (std::vector<std::string>{"Mount", "Unmount"}));
  EXPECT_EQ(Names(console.events).back(), "OnShutdown");
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
  {
    std::ofstream script(dir / "script.txt");
    script << "wait-event OnResize 10000\n"
           << "move " << centre(media, 0, 0) << "\npress left\nrelease left\n"
           << "move " << centre(image, menu.left, menu.top) << "\npress left\nrelease left\n"
           << "wait-event MessageBox 10000\nstop\n";
  }
  // uniqueFeatures 8: virtual media is authorized. The bar is laid out for the screen's width
  // from the start (it would follow the first picture's width only after OnResize).
  const Outcome r = Remcons(dir, {"--demo", "--headless", "--param", "uniqueFeatures=8", "--param",
                                  "width=" + std::to_string(kWidth), "--param", "height=768",
                                  "--script", dir / "script.txt", "--seconds", "50"});
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<QJsonObject> boxes;
  for (const QJsonObject& e : r.events) {
    if (Text(e, "event") == "MessageBox") boxes.push_back(e);
  }
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(Text(boxes[0], "caption"), "Error");
  EXPECT_EQ(Text(boxes[0], "text"), HeadlessVmChooser::Reason(VmKind::ImageFile));
  EXPECT_EQ(Text(boxes[0], "answer"), "OK");
  // Nothing was mounted.
  for (const QJsonObject& e : r.events) EXPECT_NE(Text(e, "event"), "Mount");
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
      dir,
      Concat({"--demo", "--headless", "--mount", "cdimage=" + iso, "--seconds", "3"},
             {"--param", "vmPort=" + std::to_string(server.Port()), "--param", "vmKey=" + kKey}));
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<std::string> names = Names(r.events);
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
