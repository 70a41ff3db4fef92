// X servers for the desktop tests: Xvfb (one fixed mode) and Xorg with the dummy video driver
// (several modes, switchable; needs root). Each picks a free display number itself (-displayfd),
// every wait is bounded, and the server is ended (SIGTERM, then SIGKILL) with the object.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

namespace remcons::testing {

class XServer {
 public:
  // Xvfb with one screen of width x height at 24 bits; nullptr with a reason when it cannot run.
  static std::unique_ptr<XServer> StartXvfb(int width, int height, std::string* error);
  // Xorg with the dummy driver offering modes (e.g. "1280x1024", "1024x768"); the first is the
  // desktop's mode. nullptr with a reason when it cannot run (not root, no driver).
  static std::unique_ptr<XServer> StartXorgDummy(const std::vector<std::string>& modes,
                                                 std::string* error);
  ~XServer();

  const std::string& display() const { return display_; }  // ":N"
  // Moves the pointer to (x, y) of the screen.
  void WarpPointer(int x, int y) const;

 private:
  static std::unique_ptr<XServer> Start(std::vector<std::string> argv, const std::string& dir,
                                        std::string* error);
  pid_t pid_ = -1;
  std::string display_;
  std::string dir_;  // scratch files (config, log), removed with the server
};

// The display the test process shows its windows on (the desktop test mains set it up), or empty;
// and when it is empty though wanted, why the server could not run.
inline std::string& TestDisplay() {
  static std::string display;
  return display;
}
inline std::string& XServerMissing() {
  static std::string reason;
  return reason;
}

}  // namespace remcons::testing
