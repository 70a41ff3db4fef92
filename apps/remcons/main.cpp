// remcons: the console as a program. On a desktop it opens a window with the console in it (and,
// without a target, a dialog that asks for one first); with --headless, or without a display, the
// picture is painted off screen. Either way events can go out as JSON lines, input can come from a
// script, and a snapshot shows the picture at the end.
#include <strings.h>
#include <QApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QMessageBox>
#include <QSettings>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <sstream>
#include <string>

#include "ConsoleWindow.h"
#include "Credentials.h"
#include "Mounts.h"
#include "Options.h"
#include "host/qt/CapturePlayer.h"
#include "host/qt/ConnectDialog.h"
#include "host/qt/HeadlessConsole.h"
#include "net/Net.h"
#include "platform/Socket.h"
#include "platform/Trace.h"
#include "remcons/Version.h"
#include "session/PageFile.h"
#include "session/PropertyBag.h"
#include "sim/BufferService.h"
#include "sim/ConsoleServer.h"

namespace {

using remcons::ConsoleRunOptions;
using remcons::ExitStatus;
using remcons::HeadlessConsole;
using remcons::PropertyBag;
using remcons::SecretString;

int Failure(ExitStatus status, const std::string& reason) {
  std::fprintf(stderr, "remcons: %s\n", reason.c_str());
  return static_cast<int>(status);
}

std::string Hex(const uint8_t* bytes, size_t n) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 15];
  }
  return out;
}

// The simulator's options for the demo: loopback, an ephemeral port, an enciphered session with a
// fresh key pair and key index.
remcons::sim::ConsoleServerOptions DemoServerOptions() {
  remcons::sim::ConsoleServerOptions options;
  options.bind = "127.0.0.1";
  options.port = 0;
  options.encryption = true;
  std::random_device random;
  options.keyIndex = random();
  for (auto& b : options.keys.decryptKey) b = static_cast<uint8_t>(random());
  for (auto& b : options.keys.encryptKey) b = static_cast<uint8_t>(random());
  options.screen.serverName = "MPSIM";
  return options;
}

// The console's properties for the simulator: they come before the command line's own.
PropertyBag DemoParams(const remcons::sim::ConsoleServerOptions& server, uint16_t port,
                       uint16_t bufferPort) {
  return {
      {"target", "127.0.0.1"},
      {"port", std::to_string(port)},
      {"encryption", "1"},
      {"keyIndex", std::to_string(server.keyIndex)},
      {"decryptKey", Hex(server.keys.decryptKey.data(), 16)},
      {"encryptKey", Hex(server.keys.encryptKey.data(), 16)},
      {"login", "ZGVtbzpkZW1v"},  // demo:demo
      {"serverName", server.screen.serverName},
      {"fullScreen", "0"},
      // The demo's user may use the virtual power buttons and virtual media.
      {"uniqueFeatures", "12"},
      // Capture and replay, and the simulator's BOOT and FAULT buffers from the Replay Menu.
      {"screenCapture", "1"},
      {"clientCapture", "1"},
      {"scrPort", std::to_string(bufferPort)},
  };
}

bool Names(const PropertyBag& bag, const char* name) {
  for (const auto& [n, value] : bag) {
    if (strcasecmp(n.c_str(), name) == 0) return true;
  }
  return false;
}

// Set while Qt tries the display's platforms: their failures are summed up in one line of ours.
bool gProbingPlatforms = false;

// Qt's complaint about a missing XDG_RUNTIME_DIR says nothing about the console: it stays out of
// the one-line reasons on standard error.
void QuietMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (message.startsWith("QStandardPaths: ")) return;
  if (gProbingPlatforms && context.category &&
      QLatin1String(context.category).startsWith(QLatin1String("qt.qpa."))) {
    return;
  }
  const QByteArray text = qFormatLogMessage(type, context, message).toLocal8Bit();
  std::fprintf(stderr, "%s\n", text.constData());
}

// Everything of a run's options but its script, which only the first run takes.
ConsoleRunOptions CopyOptions(const ConsoleRunOptions& from) {
  ConsoleRunOptions to;
  to.pageParams = from.pageParams;
  to.params = from.params;
  to.pageUrl = from.pageUrl;
  to.seconds = from.seconds;
  to.eventsPath = from.eventsPath;
  to.answers = from.answers;
  to.snapshotPath = from.snapshotPath;
  to.leaderServer = from.leaderServer;
  to.eventsStream = from.eventsStream;
  return to;
}

// One run in a window or off screen; a desktop user who started it is told why it could not
// connect, in a box as well as on standard error.
ExitStatus RunOnce(bool windowed, const remcons::app::Options& options, ConsoleRunOptions run,
                   remcons::app::CommandLineMounts& mounts, std::string* error) {
  const bool told = windowed && run.answers.empty();
  ExitStatus status;
  bool connected = false;
  if (windowed) {
    remcons::app::WindowedConsole console(std::move(run));
    if (options.scale) console.window().SetScaleToWindow(*options.scale);
    mounts.MountWith(console);
    status = mounts.Finish(console.Run(error), error);
    connected = console.control().EverConnected();
  } else {
    HeadlessConsole console(std::move(run));
    mounts.MountWith(console);
    status = mounts.Finish(console.Run(error), error);
  }
  if (told && status != ExitStatus::kOk && !connected) {
    QString text = QString::fromStdString(*error);
    if (!text.isEmpty()) text[0] = text[0].toUpper();
    QMessageBox::warning(nullptr, QStringLiteral("remcons"), text + QLatin1Char('.'));
  }
  return status;
}

// The desktop without a target: the dialog asks for one, and asks again, with the reason, for as
// long as the attempts fail to connect. The servers connected to are remembered.
ExitStatus RunFromDialog(const remcons::app::Options& options, ConsoleRunOptions base,
                         remcons::app::CommandLineMounts& mounts, std::string* error) {
  QSettings settings(QStringLiteral("remcons"), QStringLiteral("remcons"));
  remcons::RecentServers recent(settings);
  remcons::ConnectDialog dialog(recent.Load());
  remcons::ConnectTarget given;
  given.host = QString::fromStdString(options.host);
  given.port = options.hostPort.value_or(23);
  given.user = QString::fromStdString(options.user);
  if (!options.host.empty() || !options.user.empty()) dialog.SetTarget(given);
  bool first = true;
  for (;;) {
    if (dialog.exec() != QDialog::Accepted) {
      dialog.WipePassword();
      return ExitStatus::kOk;
    }
    const remcons::ConnectTarget target = dialog.target();
    std::string address, why;
    if (!remcons::ResolveIpv4(target.host.toStdString(), &address, &why)) {
      dialog.ShowError(QStringLiteral("Cannot find the address of %1: %2")
                           .arg(target.host, QString::fromStdString(why)));
      continue;
    }
    ConsoleRunOptions run = first ? std::move(base) : CopyOptions(base);
    if (first) base = CopyOptions(run);
    first = false;
    const PropertyBag chosen = remcons::ConnectParams(target, address, dialog.Password());
    run.params.insert(run.params.end(), chosen.begin(), chosen.end());
    // The dialog asks again with its own words; no second box.
    run.answers.clear();
    remcons::app::WindowedConsole console(std::move(run));
    if (options.scale) console.window().SetScaleToWindow(*options.scale);
    mounts.MountWith(console);
    const ExitStatus status = mounts.Finish(console.Run(error), error);
    const bool connected = console.control().EverConnected();
    if (connected || status == ExitStatus::kOk) {
      if (connected) recent.Remember(target);
      dialog.WipePassword();
      return status;
    }
    std::fprintf(stderr, "remcons: %s\n", error->c_str());
    dialog.ShowError(QString::fromStdString(*error));
  }
}

// A capture file in a window of its own until the user closes it.
int PlayCapture(bool windowed, const std::string& path) {
  if (!windowed) {
    return Failure(ExitStatus::kBadOptions,
                   "a capture file plays in a window; remcons-tool replay makes pictures of it "
                   "without one");
  }
  remcons::CapturePlayer player;
  std::string error;
  if (!player.Start(path, &error)) {
    QMessageBox::warning(nullptr, QStringLiteral("remcons"), QString::fromStdString(error));
    return Failure(ExitStatus::kFailed, error);
  }
  player.show();
  QEventLoop loop;
  QObject::connect(qApp, &QGuiApplication::lastWindowClosed, &loop, &QEventLoop::quit);
  loop.exec();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  remcons::app::Options options;
  std::string error;
  if (!remcons::app::ParseOptions(argc, argv, &options, &error)) {
    return Failure(ExitStatus::kBadOptions, error);
  }
  if (options.help) {
    std::fputs(remcons::app::Usage().c_str(), stdout);
    return 0;
  }
  if (options.version) {
    std::printf("remcons %s\n", REMCONS_VERSION);
    return 0;
  }

  if (!options.trace.empty()) {
    if (!remcons::trace::EnableTo(options.trace)) {
      return Failure(ExitStatus::kBadOptions, "cannot write the trace to " + options.trace);
    }
  } else {
    remcons::trace::ConfigureFromEnvironment();
  }

  std::vector<std::string> warnings = remcons::app::CommandLineSecretWarnings(options);
  ConsoleRunOptions run;
  if (!options.page.empty()) {
    std::string html;
    if (!remcons::ReadPage(options.page, &html, &error)) {
      return Failure(ExitStatus::kBadOptions, error);
    }
    run.pageParams = remcons::ParseHtmlParams(html);
    if (run.pageParams.empty()) {
      std::fprintf(stderr, "remcons: the page %s names no console properties\n",
                   options.page.c_str());
    }
  }
  // The file's properties, then the command line's.
  if (!options.paramsFile.empty() &&
      !remcons::app::ReadParamsFile(options.paramsFile, &run.params, &error, &warnings)) {
    return Failure(ExitStatus::kBadOptions, error);
  }
  run.params.insert(run.params.end(), options.params.begin(), options.params.end());
  // HOST[:PORT]: looked up here, as the console itself looks up no names.
  if (!options.host.empty()) {
    std::string address;
    if (!remcons::ResolveIpv4(options.host, &address, &error)) {
      return Failure(ExitStatus::kFailed,
                     "cannot find the address of " + options.host + ": " + error);
    }
    if (!Names(run.params, "serverName") && !Names(run.pageParams, "serverName")) {
      run.params.emplace_back("serverName", options.host);
    }
    // A window on the desktop unless told otherwise: full screen would switch its mode.
    if (!Names(run.params, "fullScreen") && !Names(run.pageParams, "fullScreen")) {
      run.params.emplace_back("fullScreen", "0");
    }
    run.params.emplace_back("target", address);
    if (options.hostPort) run.params.emplace_back("port", std::to_string(*options.hostPort));
  }
  const bool hasTarget =
      options.demo || Names(run.params, "target") || Names(run.pageParams, "target");

  run.pageUrl = options.pageUrl;
  run.seconds = options.seconds;
  run.eventsPath = options.events;
  run.answers = options.answers;
  run.snapshotPath = options.snapshot;
  run.leaderServer.bindAddress = !options.leaderBind.empty() ? options.leaderBind
                                 : options.demo              ? "127.0.0.1"
                                                             : "0.0.0.0";
  if (!options.script.empty()) {
    if (options.script == "-") {
      run.script = remcons::ScriptFromStdin();
    } else {
      run.script = remcons::ScriptFromFile(options.script, &error);
      if (!run.script) return Failure(ExitStatus::kBadOptions, error);
    }
  }

  // Without a display there is no window.
  const bool display = std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY");
  bool windowed = !options.headless && display && !options.vmediaOnly;

  // The user's password, never from the command line. Without a terminal to ask on, a desktop
  // asks in its dialog.
  bool askInDialog = windowed && !hasTarget;
  if (!options.user.empty() && hasTarget) {
    SecretString password;
    std::string host = options.host;
    for (const auto& [name, value] : run.params) {
      if (host.empty() && strcasecmp(name.c_str(), "target") == 0) host = value;
    }
    const remcons::app::PasswordSource source = remcons::app::ReadPassword(
        options, "Password for " + options.user + "@" + host + ": ", &password, &error, &warnings);
    if (!error.empty()) return Failure(ExitStatus::kBadOptions, error);
    if (source == remcons::app::PasswordSource::kNone) {
      if (!windowed) {
        return Failure(ExitStatus::kBadOptions,
                       "no password for " + options.user + ": no terminal to ask on; give it in " +
                           remcons::app::kPasswordVariable + " or with --password-file");
      }
      askInDialog = true;
    } else {
      const std::string problem = remcons::LoginProblem(options.user, password.text());
      if (!problem.empty()) return Failure(ExitStatus::kBadOptions, problem);
      const SecretString text(options.user + ":" + password.text());
      run.params.emplace_back("login", remcons::Base64Encode(text.text()));
    }
  }
  for (const std::string& warning : warnings) {
    std::fprintf(stderr, "remcons: warning: %s\n", warning.c_str());
  }

  remcons::app::CommandLineMounts mounts(options);
  if (options.vmediaOnly) {
    const ExitStatus status = mounts.RunWithoutConsole(std::move(run), &error);
    return status == ExitStatus::kOk ? 0 : Failure(status, error);
  }

  if (!options.headless && !display)
    std::fprintf(stderr, "remcons: no display; running headless\n");
  if (!windowed) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_QPA_PLATFORMTHEME", "");
  } else if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
    // X11 first, also under Wayland (XWayland): only there can the console grab the keyboard.
    // A display that cannot be opened leaves the offscreen platform, and a headless run.
    qputenv("QT_QPA_PLATFORM", "xcb;wayland;offscreen");
  }
  int qtArgc = 1;
  char* qtArgv[] = {argv[0], nullptr};
  qInstallMessageHandler(QuietMessages);
  std::unique_ptr<QGuiApplication> app;
  if (windowed) {
    gProbingPlatforms = true;
    app = std::make_unique<QApplication>(qtArgc, qtArgv);
    gProbingPlatforms = false;
    if (QGuiApplication::platformName() == QLatin1String("offscreen")) {
      const char* name =
          std::getenv("DISPLAY") ? std::getenv("DISPLAY") : std::getenv("WAYLAND_DISPLAY");
      std::fprintf(stderr, "remcons: the display %s cannot be opened; running headless\n", name);
      windowed = false;
    }
  } else {
    app = std::make_unique<QGuiApplication>(qtArgc, qtArgv);
  }
  QGuiApplication::setApplicationName(QStringLiteral("remcons"));
  QGuiApplication::setApplicationVersion(QStringLiteral(REMCONS_VERSION));
  QGuiApplication::setDesktopFileName(QStringLiteral("remcons"));

  std::unique_ptr<remcons::sim::ConsoleServer> server;
  std::unique_ptr<remcons::sim::BufferServer> buffers;
  if (options.demo) {
    remcons::sim::ConsoleServerOptions serverOptions = DemoServerOptions();
    server = std::make_unique<remcons::sim::ConsoleServer>(serverOptions);
    if (!server->Start(&error)) {
      return Failure(ExitStatus::kFailed, "the simulator did not start: " + error);
    }
    std::fprintf(stderr, "remcons: simulator on 127.0.0.1:%u\n",
                 static_cast<unsigned>(server->Port()));
    remcons::sim::BufferServiceOptions bufferOptions;
    bufferOptions.screen = serverOptions.screen;
    buffers = std::make_unique<remcons::sim::BufferServer>(bufferOptions);
    if (!buffers->Start(&error)) {
      return Failure(ExitStatus::kFailed, "the simulator's buffers did not start: " + error);
    }
    std::fprintf(stderr, "remcons: simulator's BOOT and FAULT buffers on 127.0.0.1:%u\n",
                 static_cast<unsigned>(buffers->Port()));
    const PropertyBag demo = DemoParams(serverOptions, server->Port(), buffers->Port());
    run.params.insert(run.params.begin(), demo.begin(), demo.end());
  }
  if (!mounts.Prepare(&run, &error)) return Failure(ExitStatus::kFailed, error);

  if (!options.capture.empty()) return PlayCapture(windowed, options.capture);

  ExitStatus status;
  if (windowed && askInDialog) {
    status = RunFromDialog(options, std::move(run), mounts, &error);
  } else {
    status = RunOnce(windowed, options, std::move(run), mounts, &error);
  }
  if (buffers) buffers->Stop();
  if (server) {
    server->Stop();
    // What a session leader told the simulator about its joiners.
    for (const remcons::sim::PacketRecord& r : server->Packets()) {
      if (r.kind == "session-notice") {
        std::fprintf(stderr, "remcons: the simulator got a session notice: {%s}\n",
                     r.fields.c_str());
      }
    }
  }
  if (status != ExitStatus::kOk) return Failure(status, error);
  return 0;
}
