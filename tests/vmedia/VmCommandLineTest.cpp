// The command-line mounts with their JSON-line events, and the drive menu's model.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>

#include "VmHarness.h"
#include "platform/Hex.h"
#include "platform/Strings.h"
#include "support/Wait.h"
#include "vmedia/VmCommandLine.h"
#include "vmedia/VmDrives.h"

namespace remcons {
namespace {

using namespace vmtest;

TEST(VmMountSpec, Parses) {
  FakeSysfs s;
  s.Add("sdb", "1", "0", 2880);
  s.Add("sr0", "1", "5");
  struct Case {
    const char* text;
    bool ok;
    VmKind kind;
    const char* path;
    bool followLinks = false;
  };
  const Case cases[] = {
      {"folder=/x/d,follow-links", true, VmKind::Folder, "/x/d", true},
      {"image=/x/floppy.img", true, VmKind::ImageFile, "/x/floppy.img"},
      {"cdimage=/x/a b.iso", true, VmKind::CdImage, "/x/a b.iso"},
      {"folder=/x/dir=1", true, VmKind::Folder, "/x/dir=1"},
      {"drive=sdb", true, VmKind::FloppyDrive, "sdb"},
      {"drive=sr0", true, VmKind::CdromDrive, "sr0"},
      {"drive=sdz", false, VmKind::ImageFile, ""},
      {"floppy=/x", false, VmKind::ImageFile, ""},
      {"image", false, VmKind::ImageFile, ""},
      {"image=", false, VmKind::ImageFile, ""},
  };
  for (const Case& c : cases) {
    VmMountSpec mount;
    std::string error;
    EXPECT_EQ(ParseVmMountSpec(c.text, &mount, &error, s.roots()), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(mount.kind, c.kind) << c.text;
      EXPECT_EQ(mount.path, c.path);
      EXPECT_EQ(mount.followLinks, c.followLinks);
    } else {
      EXPECT_FALSE(error.empty());
    }
  }
}

// The events as the JSON lines they render as.
struct Events {
  void operator()(const VmMountEvent& event) {
    std::lock_guard lock(mutex);
    lines.push_back(VmMountEventJson(event));
  }
  std::vector<std::string> Lines() {
    std::lock_guard lock(mutex);
    return lines;
  }
  std::mutex mutex;
  std::vector<std::string> lines;
};

VmCommandLineMounts::Settings CliSettings(Loopback& lb, Events* events) {
  VmCommandLineMounts::Settings s;
  s.target = "127.0.0.1";
  s.vmPort = lb.server.Port();
  s.vmKey = HexBytes(lb.key.data(), lb.key.size());
  s.events = [events](const VmMountEvent& e) { (*events)(e); };
  return s;
}

TEST(VmCommandLine, MountsReportAndEndWithTheirSessions) {
  TempDir dir;
  const auto floppy = RandomBytes(1474560, 31), disc = RandomBytes(2048 * 300, 32);
  WriteFile(dir / "f.img", floppy);
  WriteFile(dir / "d.iso", disc);
  Loopback lb;
  lb.server.SetSessionHandler([&](sim::VmInitiator& in) {
    auto o = SimOptions();
    o.dumpFile = dir / ("dump" + std::to_string(in.ClassByte()));
    auto summary = in.RunScript(o);
    EXPECT_TRUE(summary.ok) << summary.error;
  });
  ASSERT_TRUE(lb.Start());
  Events events;
  {
    VmCommandLineMounts mounts(CliSettings(lb, &events));
    EXPECT_EQ(mounts.Mount({{"image", VmKind::ImageFile, dir / "f.img"},
                            {"cdimage", VmKind::CdImage, dir / "d.iso"},
                            {"image", VmKind::ImageFile, dir / "missing.img"}}),
              2);
    EXPECT_TRUE(mounts.WaitAllEnded(60000));
    EXPECT_EQ(mounts.Serving(), 0);
  }
  EXPECT_EQ(ReadFile(dir / "dump1"), floppy);
  EXPECT_EQ(ReadFile(dir / "dump2"), disc);
  auto lines = events.Lines();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0], "{\"event\":\"Mount\",\"kind\":\"image\",\"path\":\"" + (dir / "f.img") +
                          "\",\"device\":\"FloppyImage\",\"result\":\"ok\"}");
  const std::string closed = "\"reason\":\"Connection closed.\"";
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [&](auto& l) {
                            return l.find("\"event\":\"Unmount\"") != std::string::npos &&
                                   l.find(closed) != std::string::npos;
                          }),
            2);
  EXPECT_EQ(std::count(lines.begin(), lines.end(),
                       "{\"event\":\"Mount\",\"kind\":\"image\",\"path\":\"" +
                           (dir / "missing.img") + "\",\"result\":\"No such file or directory\"}"),
            1);
}

TEST(VmCommandLine, RefusalsAndBadKeysAreMountResults) {
  TempDir dir;
  WriteFile(dir / "f.img", RandomBytes(4096, 33));
  auto options = SimOptions();
  options.refuse = 0x26;
  Loopback lb(options);
  ASSERT_TRUE(lb.Start());
  Events events;
  auto settings = CliSettings(lb, &events);
  for (const char* key : {"", "not a key"}) {
    if (*key) settings.vmKey = key;
    VmCommandLineMounts mounts(settings);
    EXPECT_EQ(mounts.Mount({{"image", VmKind::ImageFile, dir / "f.img"}}), 0);
    EXPECT_TRUE(mounts.WaitAllEnded(1000));
  }
  auto lines = events.Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find("\"result\":\"Virtual media permission is required.\""),
            std::string::npos)
      << lines[0];
  EXPECT_NE(lines[1].find("\"result\":\"vmKey must be 32 hexadecimal digits\""), std::string::npos)
      << lines[1];
}

// UnmountAll ends serving; a session that closes at once still reports its Mount before its
// Unmount (each time).
TEST(VmCommandLine, UnmountAllEndsServingAndShortSessionsReportInOrder) {
  TempDir dir;
  WriteFile(dir / "f.img", RandomBytes(4096, 34));
  Loopback lb;
  std::atomic<bool> hold{true};
  lb.server.SetSessionHandler([&](sim::VmInitiator& in) {
    if (hold) in.WaitClosed(20000);
  });
  ASSERT_TRUE(lb.Start());
  const int before = VmMountedDrives();
  for (int i = 0; i < 21; ++i) {
    Events events;
    VmCommandLineMounts mounts(CliSettings(lb, &events));
    ASSERT_EQ(mounts.Mount({{"image", VmKind::ImageFile, dir / "f.img"}}), 1);
    if (hold) {
      EXPECT_EQ(mounts.Serving(), 1);
      EXPECT_EQ(VmMountedDrives(), before + 1);  // a served mount keeps the console from timing out
      mounts.UnmountAll();
    }
    ASSERT_TRUE(mounts.WaitAllEnded(5000));
    EXPECT_EQ(VmMountedDrives(), before);
    auto lines = events.Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("\"event\":\"Mount\""), std::string::npos);
    EXPECT_NE(lines[1].find(hold ? "\"reason\":\"Unmounted.\"" : "\"event\":\"Unmount\""),
              std::string::npos)
        << lines[1];
    hold = false;
  }
}

// UnmountAll from another thread gives up a mount whose server never answers the connect, and
// every mount after it; each is reported as not served.
TEST(VmCommandLine, UnmountAllAbandonsAMountStillConnecting) {
  UnansweredPort unanswered;
  if (!unanswered.Silent()) GTEST_SKIP() << "loopback answered a connect to a full backlog";
  TempDir dir;
  WriteFile(dir / "f.img", RandomBytes(4096, 37));
  WriteFile(dir / "g.img", RandomBytes(4096, 38));
  Events events;
  Loopback lb;  // only for its settings: the port is the one that never answers
  auto settings = CliSettings(lb, &events);
  settings.vmPort = unanswered.port();
  VmCommandLineMounts mounts(settings);
  const int before = VmMountedDrives();
  std::future<int> served = std::async(std::launch::async, [&] {
    return mounts.Mount(
        {{"image", VmKind::ImageFile, dir / "f.img"}, {"image", VmKind::ImageFile, dir / "g.img"}});
  });
  struct GiveUp {
    VmCommandLineMounts& mounts;
    ~GiveUp() { mounts.UnmountAll(); }
  } giveUp{mounts};
  // Connecting: counted as served, so that a console does not time out meanwhile.
  ASSERT_TRUE(testing::WaitUntil([&] { return mounts.Serving() == 1; }, 10000));
  EXPECT_EQ(served.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
  mounts.UnmountAll();
  ASSERT_EQ(served.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(served.get(), 0);
  EXPECT_EQ(mounts.Serving(), 0);
  EXPECT_EQ(VmMountedDrives(), before);
  const auto lines = events.Lines();
  ASSERT_EQ(lines.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(lines[i], "{\"event\":\"Mount\",\"kind\":\"image\",\"path\":\"" +
                            (dir / (i ? "g.img" : "f.img")) +
                            "\",\"result\":\"Unmounted before it was served.\"}");
  }
}

TEST(VmCommandLine, EventsRenderAsJsonLines) {
  struct Case {
    VmMountEvent event;
    const char* line;
  } cases[] = {
      {{"Mount", "cdimage", "/isos/a \"b\".iso", "CdImage", "ok", ""},
       R"({"event":"Mount","kind":"cdimage","path":"/isos/a \"b\".iso","device":"CdImage",)"
       R"("result":"ok"})"},
      {{"Mount", "image", "C:\\x\n.img", "", "No such file or directory", ""},
       R"({"event":"Mount","kind":"image","path":"C:\\x\n.img",)"
       R"("result":"No such file or directory"})"},
      {{"Mount", "folder", "/srv/share", "Folder", "ok", "", 3},
       R"({"event":"Mount","kind":"folder","path":"/srv/share","device":"Folder",)"
       R"("result":"ok","linksLeftOut":3})"},
      {{"Unmount", "folder", "/srv/caf\xe9", "", "", "Connection closed."},
       R"({"event":"Unmount","kind":"folder","path":"/srv/caf\u00e9",)"
       R"("reason":"Connection closed."})"},
  };
  for (const Case& c : cases) EXPECT_EQ(VmMountEventJson(c.event), c.line);
}

// ---- The drive menu (its entries, icons and drives that come and go: the menu bar's tests) ----

TEST(VmDriveMenu, JapaneseLabelsAndAtMostNineEntries) {
  const Language before = UiLanguage();
  SetUiLanguage(Language::kJapanese);
  VmDriveMenu japanese({.server = "", .roots = MediaRoots{"/nonexistent/sys", "/nonexistent/dev"}});
  japanese.Build(false);
  SetUiLanguage(before);
  ASSERT_EQ(japanese.Count(), 3);
  EXPECT_EQ(japanese.Entry(0).label, "\uFF72\uFF92\uFF70\uFF7C\uFF9E");  // ｲﾒｰｼﾞ
  EXPECT_EQ(japanese.Entry(1).label, "\uFF8C\uFF6B\uFF99\uFF80\uFF9E");  // ﾌｫﾙﾀﾞ
  EXPECT_EQ(japanese.Entry(2).label, japanese.Entry(0).label);
  FakeSysfs s;
  for (const char* name : {"sdb", "sdc", "sdd", "sde", "sdf", "sdg", "sdh"})
    s.Add(name, "1", "0", 2880);
  VmDriveMenu menu({.server = "", .roots = s.roots()});
  menu.Build(false);
  EXPECT_EQ(menu.Count(), 9);
  s.Add("sdi", "1", "0", 2880);
  menu.GetDrives();
  EXPECT_EQ(menu.Count(), 9);
}

TEST(VmDriveMenu, PressMountsAndUnmounts) {
  TempDir dir;
  WriteFile(dir / "f.img", RandomBytes(4096, 35));
  Loopback lb;
  lb.server.SetSessionHandler([](sim::VmInitiator& in) { in.WaitClosed(20000); });
  ASSERT_TRUE(lb.Start());
  FixedTargetChooser chooser(dir / "f.img");
  const int before = VmMountedDrives();
  {
    VmDriveMenu menu({.server = "127.0.0.1",
                      .port = lb.server.Port(),
                      .key = lb.key,
                      .chooser = &chooser,
                      .roots = MediaRoots{dir / "nosys", dir / "nodev"}});
    menu.Build(false);
    ASSERT_EQ(menu.Count(), 3);
    EXPECT_EQ(menu.Press(7), -1);
    // A CD image entry refuses a file that is not an ISO: the entry stays unmounted.
    EXPECT_EQ(menu.Press(2), -1);
    EXPECT_FALSE(menu.Entry(2).mounted);
    EXPECT_EQ(VmMountedDrives(), before);
    // The console's unmount command for a kind: the requested kind is what counts.
    EXPECT_EQ(menu.Press(0), 0);
    EXPECT_EQ(VmMountedDrives(), before + 1);
    menu.UnmountKind(VmKind::FloppyImage);
    EXPECT_TRUE(menu.Entry(0).mounted);
    menu.UnmountKind(VmKind::ImageFile);
    EXPECT_FALSE(menu.Entry(0).mounted);
    EXPECT_EQ(VmMountedDrives(), before);
    EXPECT_EQ(menu.Press(0), 0);
  }
  // Destroying the menu unmounts what it served.
  EXPECT_EQ(VmMountedDrives(), before);
}

}  // namespace
}  // namespace remcons
