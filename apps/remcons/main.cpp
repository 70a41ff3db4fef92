// remcons: the console as a program. On a desktop it opens a window with the console in it;
// with --headless, or without a display, the picture is painted off screen. Either way events can
// go out as JSON lines, input can come from a script, and a snapshot shows the picture at the end.
#include <QApplication>
#include <QGuiApplication>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <sstream>
#include <string>

#include "ConsoleWindow.h"
#include "Mounts.h"
#include "Options.h"
#include "host/qt/HeadlessConsole.h"
#include "platform/Trace.h"
#include "session/PropertyBag.h"
#include "sim/BufferService.h"
#include "sim/ConsoleServer.h"

namespace {

using remcons::HeadlessConsole;

int Failure(int status, const std::string& reason) {
  std::fprintf(stderr, "remcons: %s\n", reason.c_str());
  return status;
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
remcons::PropertyBag DemoParams(const remcons::sim::ConsoleServerOptions& server, uint16_t port,
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

}  // namespace

int main(int argc, char** argv) {
  remcons::app::Options options;
  std::string error;
  if (!remcons::app::ParseOptions(argc, argv, &options, &error)) {
    return Failure(HeadlessConsole::kBadOptions, error);
  }
  if (options.help) {
    std::fputs(remcons::app::Usage().c_str(), stdout);
    return 0;
  }

  if (!options.trace.empty()) {
    if (!remcons::trace::EnableTo(options.trace)) {
      return Failure(HeadlessConsole::kBadOptions, "cannot write the trace to " + options.trace);
    }
  } else {
    remcons::trace::ConfigureFromEnvironment();
  }

  remcons::HeadlessOptions run;
  if (!options.page.empty()) {
    std::ifstream in(options.page, std::ios::binary);
    if (!in) return Failure(HeadlessConsole::kBadOptions, "cannot read the page " + options.page);
    const std::string html((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    run.pageParams = remcons::ParseHtmlParams(html);
    if (run.pageParams.empty()) {
      std::fprintf(stderr, "remcons: the page %s names no console properties\n",
                   options.page.c_str());
    }
  }
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
      if (!run.script) return Failure(HeadlessConsole::kBadOptions, error);
    }
  }

  remcons::app::CommandLineMounts mounts(options);
  if (options.vmediaOnly) {
    const int status = mounts.RunWithoutConsole(std::move(run), &error);
    return status == HeadlessConsole::kOk ? 0 : Failure(status, error);
  }

  // Without a display there is no window.
  const bool display = std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY");
  bool windowed = !options.headless && display;
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

  std::unique_ptr<remcons::sim::ConsoleServer> server;
  std::unique_ptr<remcons::sim::BufferServer> buffers;
  if (options.demo) {
    remcons::sim::ConsoleServerOptions serverOptions = DemoServerOptions();
    server = std::make_unique<remcons::sim::ConsoleServer>(serverOptions);
    if (!server->Start(&error)) {
      return Failure(HeadlessConsole::kFailed, "the simulator did not start: " + error);
    }
    std::fprintf(stderr, "remcons: simulator on 127.0.0.1:%u\n",
                 static_cast<unsigned>(server->Port()));
    remcons::sim::BufferServiceOptions bufferOptions;
    bufferOptions.screen = serverOptions.screen;
    buffers = std::make_unique<remcons::sim::BufferServer>(bufferOptions);
    if (!buffers->Start(&error)) {
      return Failure(HeadlessConsole::kFailed, "the simulator's buffers did not start: " + error);
    }
    std::fprintf(stderr, "remcons: simulator's BOOT and FAULT buffers on 127.0.0.1:%u\n",
                 static_cast<unsigned>(buffers->Port()));
    run.params = DemoParams(serverOptions, server->Port(), buffers->Port());
  }
  run.params.insert(run.params.end(), options.params.begin(), options.params.end());
  if (!mounts.Prepare(&run, &error)) return Failure(HeadlessConsole::kFailed, error);

  int status;
  if (windowed) {
    remcons::app::WindowedConsole console(std::move(run));
    mounts.MountWith(console.control(), console.events());
    status = mounts.Finish(console.Run(&error), &error);
  } else {
    HeadlessConsole console(std::move(run));
    mounts.MountWith(console);
    status = mounts.Finish(console.Run(&error), &error);
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
  if (status != HeadlessConsole::kOk) return Failure(status, error);
  return 0;
}
