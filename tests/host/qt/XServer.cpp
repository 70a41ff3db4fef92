#include "host/qt/XServer.h"

// Qt before Xlib: its macros (None, Bool, Status) would break the Qt headers.
#include "host/qt/HeadlessUtil.h"

#include <X11/Xlib.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

namespace remcons::testing {
namespace {

using Clock = std::chrono::steady_clock;

bool Executable(const std::string& name, std::string* path) {
  for (const char* dir : {"/usr/bin/", "/usr/local/bin/", "/bin/"}) {
    const std::string p = std::string(dir) + name;
    if (access(p.c_str(), X_OK) == 0) {
      *path = p;
      return true;
    }
  }
  return false;
}

}  // namespace

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
  const std::string log = dir + "/server.log";
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(open("/dev/null", O_RDONLY), 0);
    dup2(out, 1);
    dup2(out, 2);
    // Its own process group, so a terminal's Ctrl-C in the test does not reach it first.
    setpgid(0, 0);
    std::vector<char*> args;
    for (std::string& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  close(fds[1]);
  auto server = std::unique_ptr<XServer>(new XServer());
  server->pid_ = pid;
  server->dir_ = dir;
  if (pid < 0) {
    close(fds[0]);
    *error = "cannot start " + argv[0];
    return nullptr;
  }
  std::string number;
  const auto end = Clock::now() + std::chrono::milliseconds(15000);
  while (Clock::now() < end) {
    pollfd p{fds[0], POLLIN, 0};
    if (poll(&p, 1, 50) > 0) {
      char c;
      const ssize_t n = read(fds[0], &c, 1);
      if (n <= 0 || c == '\n') break;
      number += c;
    }
    if (WaitChild(pid, 0) != -1) break;  // it ended
  }
  close(fds[0]);
  if (number.empty()) {
    std::ifstream in(log);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    *error = argv[0] + " did not start: " + text.substr(text.size() > 600 ? text.size() - 600 : 0);
    return nullptr;  // the destructor stops it and removes its files
  }
  server->display_ = ":" + number;
  return server;
}

std::unique_ptr<XServer> XServer::StartXvfb(int width, int height, std::string* error) {
  std::string binary;
  if (!Executable("Xvfb", &binary)) {
    *error = "Xvfb is not installed";
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
  std::string binary;
  if (geteuid() != 0) {
    *error = "Xorg with the dummy driver needs root";
    return nullptr;
  }
  if (!Executable("Xorg", &binary)) {
    *error = "Xorg is not installed";
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
