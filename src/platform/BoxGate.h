// A warning that the server can raise again and again (a video mode it keeps switching to, a drive
// that fails every retry) gets one message box at a time. The box is posted to the window thread,
// so the thread that raised it goes on; repeats while it is open are counted, and the count is
// traced when it closes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace remcons {

class Host;

class BoxGate {
 public:
  // cause: names the warning in the trace.
  explicit BoxGate(std::string cause);

  // Posts the box unless this gate's box is still open; false when it was only counted.
  bool Show(Host& host, const std::string& text, const std::string& caption, uint32_t style);
  bool IsOpen() const;

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace remcons
