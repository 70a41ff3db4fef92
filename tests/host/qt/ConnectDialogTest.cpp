// The connect dialog on the offscreen platform: the servers connected to before fill its fields,
// the password stays hidden and out of the remembered list, and what the dialog gives reaches the
// session: the simulator, which checks the login, lets it in. The secret appears nowhere after:
// not in the settings file, the events, the trace or the window's title.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>

#include "ConsoleWindow.h"
#include "host/qt/ConnectDialog.h"
#include "host/qt/DesktopUtil.h"
#include "net/Net.h"
#include "support/TraceCapture.h"

namespace remcons {
namespace {

using testing::ReadText;
using testing::ScratchDir;

TEST(ConnectDialog, ATargetFromTheDialogReachesTheSessionAndNoSecretIsKept) {
  const std::string secret = "pa55w0rd!";
  sim::ConsoleServerOptions simOptions = testing::SimOptions();
  simOptions.checkLogin = true;
  simOptions.login = "alice:" + secret;
  sim::ConsoleServer server(simOptions);
  std::string error;
  ASSERT_TRUE(server.Start(&error)) << error;

  ScratchDir dir;
  const QString settingsPath = QString::fromStdString(dir / "remcons.conf");
  {
    QSettings settings(settingsPath, QSettings::IniFormat);
    RecentServers recent(settings);
    recent.Remember({"bmc-a", 623, "root", false, 0});
    recent.Remember({"127.0.0.1", server.Port(), "alice", true, 0});
  }
  QSettings settings(settingsPath, QSettings::IniFormat);
  RecentServers recent(settings);
  ConnectDialog dialog(recent.Load());
  dialog.show();
  ASSERT_EQ(dialog.hostField()->count(), 2);
  EXPECT_EQ(dialog.hostField()->itemText(0) + " " + dialog.hostField()->itemText(1),
            QStringLiteral("alice@127.0.0.1:%1 root@bmc-a:623").arg(server.Port()));
  EXPECT_FALSE(dialog.connectButton()->isEnabled());
  // The newest server picked: every field but the password.
  dialog.hostField()->setCurrentIndex(0);
  emit dialog.hostField()->activated(0);
  EXPECT_TRUE(dialog.connectButton()->isEnabled());
  EXPECT_EQ(dialog.target(), (ConnectTarget{"127.0.0.1", server.Port(), "alice", true, 0}));
  EXPECT_EQ(dialog.passwordField()->echoMode(), QLineEdit::Password);
  // The login turns ':' into a line end: such a password is refused, and the dialog stays.
  dialog.passwordField()->setText("a:b");
  dialog.accept();
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(dialog.error(),
            "a password with ':' cannot be sent: the login turns ':' into a line end");
  dialog.passwordField()->setText(QString::fromStdString(secret));
  dialog.ShowError("Failed to connect to bmc-a:623: connection refused");

  ConsoleRunOptions run;
  // The session keys come from elsewhere (a properties file); the dialog gives the rest.
  for (const auto& p : testing::SimParams(server.Port())) {
    if (p.first == "keyIndex" || p.first == "decryptKey" || p.first == "encryptKey") {
      run.params.push_back(p);
    }
  }
  const PropertyBag chosen = ConnectParams(dialog.target(), "127.0.0.1", dialog.Password());
  run.params.insert(run.params.end(), chosen.begin(), chosen.end());
  run.eventsPath = dir / "events.json";
  run.script = ScriptFromLines({"wait-event OnResize 10000", "stop"});
  run.seconds = 20;
  testing::TraceCapture trace;
  app::WindowedConsole console(std::move(run));
  EXPECT_EQ(console.Run(&error), ExitStatus::kOk) << error;
  EXPECT_EQ(std::pair(server.Counters().sessions, server.Counters().loginFailures),
            std::pair(uint64_t{1}, uint64_t{0}));
  recent.Remember(dialog.target());
  dialog.WipePassword();
  settings.sync();

  const std::string login = Base64Encode("alice:" + secret);
  std::vector<std::string> places = {
      ReadText(dir / "events.json"), ReadText(settingsPath.toStdString()),
      console.window().windowTitle().toStdString(), dialog.passwordField()->text().toStdString()};
  for (const std::string& line : trace.Lines()) places.push_back(line);
  for (const std::string& text : places) {
    EXPECT_EQ(text.find("pa55"), std::string::npos) << text;
    EXPECT_EQ(text.find(login), std::string::npos) << text;
  }
  EXPECT_NE(ReadText(settingsPath.toStdString()).find("alice"), std::string::npos);
  server.Stop();
}

}  // namespace
}  // namespace remcons
