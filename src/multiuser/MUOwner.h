// What the session leader's server needs of the console that owns it. The session implements it;
// the server sits below the session and reaches it only through here (and the window through the
// Host).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace remcons {

class MUOwner {
 public:
  virtual ~MUOwner() = default;

  // Writes to the console connection to the management processor, enciphered as all its traffic:
  // the count written, or 0 / -1 as the connection says.
  virtual int Write(const uint8_t* data, size_t size) = 0;
  // Lets go of every key held on the server (a dialog is about to take the focus).
  virtual void ReleaseAllKeys() = 0;
  // Whether the leader's own keyboard and mouse reach the server; the control button follows.
  virtual void SetInputEnabled(bool enabled) = 0;
  // The second status text, with a status notice.
  virtual void SetStatusText2(std::string_view text) = 0;
};

}  // namespace remcons
