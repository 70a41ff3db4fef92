// remcons: the console as a program. For now every run is headless (the desktop window comes
// later): the picture is painted off screen, events go out as JSON lines, input comes from a
// script, and a snapshot shows the picture at the end.
#include <QGuiApplication>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <sstream>
#include <string>

#include "host/qt/HeadlessConsole.h"
#include "mounts.h"
#include "options.h"
#include "platform/trace.h"
#include "session/PropertyBag.h"
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
remcons::PropertyBag DemoParams(const remcons::sim::ConsoleServerOptions& server, uint16_t port) {
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
  };
}

// Qt's complaint about a missing XDG_RUNTIME_DIR says nothing about the console: it stays out of
// the one-line reasons on standard error.
void QuietMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (message.startsWith("QStandardPaths: ")) return;
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

  // Without a display there is no window; the desktop window is not built yet either.
  const bool display = std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY");
  if (!options.headless) {
    std::fprintf(stderr, display ? "remcons: the desktop window is not available yet; running "
                                   "headless\n"
                                 : "remcons: no display; running headless\n");
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  qputenv("QT_QPA_PLATFORMTHEME", "");
  int qtArgc = 1;
  char* qtArgv[] = {argv[0], nullptr};
  qInstallMessageHandler(QuietMessages);
  QGuiApplication app(qtArgc, qtArgv);

  std::unique_ptr<remcons::sim::ConsoleServer> server;
  if (options.demo) {
    remcons::sim::ConsoleServerOptions serverOptions = DemoServerOptions();
    server = std::make_unique<remcons::sim::ConsoleServer>(serverOptions);
    if (!server->Start(&error)) {
      return Failure(HeadlessConsole::kFailed, "the simulator did not start: " + error);
    }
    std::fprintf(stderr, "remcons: simulator on 127.0.0.1:%u\n",
                 static_cast<unsigned>(server->Port()));
    run.params = DemoParams(serverOptions, server->Port());
  }
  run.params.insert(run.params.end(), options.params.begin(), options.params.end());
  if (!mounts.Prepare(&run, &error)) return Failure(HeadlessConsole::kFailed, error);

  int status;
  {
    HeadlessConsole console(std::move(run));
    mounts.MountWith(console);
    status = mounts.Finish(console.Run(&error), &error);
  }
  if (server) server->Stop();
  if (status != HeadlessConsole::kOk) return Failure(status, error);
  return 0;
}
