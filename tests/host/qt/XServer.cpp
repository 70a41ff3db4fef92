#include "host/qt/XServer.h"

// Qt before Xlib: its macros (None, Bool, Status) would break the Qt headers.
#include "host/qt/HeadlessUtil.h"

#include <X11/Xlib.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>

namespace remcons::testing {

std::unique_ptr<XServer> XServer::Start(std::vector<std::string> argv, const std::string& dir,
                                        std::string* error) {
  int fds[2];
  if (pipe(fds) != 0) {
    *error = "no pipe";
    return nullptr;
  }
  // The server writes the display number it chose to this descriptor once it accepts clients.
  argv.push_back("-displayfd");
  argv.push_back(std::to_string(fds[1]));
  auto server = std::unique_ptr<XServer>(new XServer());
  server->dir_ = dir;
  server->pid_ = StartProgram(argv, {}, dir + "/server.log", dir + "/server.log");
  close(fds[1]);
  std::string number;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (server->pid_ > 0 && std::chrono::steady_clock::now() < end &&
         WaitChild(server->pid_, 0) == -1) {
    pollfd p{fds[0], POLLIN, 0};
    char c;
    if (poll(&p, 1, 50) <= 0) continue;
    if (read(fds[0], &c, 1) <= 0 || c == '\n') break;
    number += c;
  }
  close(fds[0]);
  if (number.empty()) {
    const std::string log = ReadText(dir + "/server.log");
    *error = argv[0] + " did not start: " + log.substr(log.size() > 600 ? log.size() - 600 : 0);
    return nullptr;  // the destructor stops it and removes its files
  }
  server->display_ = ":" + number;
  return server;
}

std::unique_ptr<XServer> XServer::StartXvfb(int width, int height, std::string* error) {
  const std::string binary = "/usr/bin/Xvfb";
  if (access(binary.c_str(), X_OK) != 0) {
    *error = binary + " is not installed";
    return nullptr;
  }
  char pattern[] = "/tmp/remcons-xvfb-XXXXXX";
  const std::string dir = mkdtemp(pattern);
  return Start(
      {binary, "-screen", "0", std::to_string(width) + "x" + std::to_string(height) + "x24",
       "-nolisten", "tcp", "-noreset"},
      dir, error);
}

std::unique_ptr<XServer> XServer::StartXorgDummy(const std::vector<std::string>& modes,
                                                 std::string* error) {
  const std::string binary = "/usr/bin/Xorg";
  if (geteuid() != 0) {
    *error = "Xorg with the dummy driver needs root";
    return nullptr;
  }
  if (access(binary.c_str(), X_OK) != 0) {
    *error = binary + " is not installed";
    return nullptr;
  }
  bool driver = false;
  for (const char* dir : {"/usr/lib/xorg/modules/drivers/", "/usr/lib64/xorg/modules/drivers/"}) {
    driver = driver || access((std::string(dir) + "dummy_drv.so").c_str(), R_OK) == 0;
  }
  if (!driver) {
    *error = "the dummy video driver is not installed (xserver-xorg-video-dummy)";
    return nullptr;
  }
  char pattern[] = "/tmp/remcons-xorg-XXXXXX";
  const std::string dir = mkdtemp(pattern);
  std::string modeList;
  for (const std::string& m : modes) modeList += " \"" + m + "\"";
  std::ofstream conf(dir + "/xorg.conf");
  conf << "Section \"Device\"\n  Identifier \"dummy\"\n  Driver \"dummy\"\n  VideoRam 65536\n"
          "EndSection\n"
          "Section \"Monitor\"\n  Identifier \"monitor\"\n  HorizSync 5.0 - 1000.0\n"
          "  VertRefresh 5.0 - 200.0\nEndSection\n"
          "Section \"Screen\"\n  Identifier \"screen\"\n  Device \"dummy\"\n  Monitor \"monitor\"\n"
          "  DefaultDepth 24\n  SubSection \"Display\"\n    Depth 24\n    Modes"
       << modeList << "\n  EndSubSection\nEndSection\n"
       << "Section \"ServerFlags\"\n  Option \"AutoAddDevices\" \"false\"\nEndSection\n";
  conf.close();
  return Start({binary, "-config", dir + "/xorg.conf", "-logfile", dir + "/xorg.log", "-nolisten",
                "tcp", "-noreset", "-novtswitch", "-sharevts"},
               dir, error);
}

XServer::~XServer() {
  StopChild(pid_);
  if (!dir_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
}

void XServer::WarpPointer(int x, int y) const {
  Display* d = XOpenDisplay(display_.c_str());
  if (!d) return;
  XWarpPointer(d, 0, DefaultRootWindow(d), 0, 0, 0, 0, x, y);
  XSync(d, False);
  XCloseDisplay(d);
}

}  // namespace remcons::testing
