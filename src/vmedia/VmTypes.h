// Kinds of virtual media and what the virtual media code needs from the console it belongs to.
#pragma once

#include <stdexcept>
#include <string>

namespace remcons {

enum class VmKind : int {
  FloppyDrive = 1,
  CdromDrive = 2,
  ImageFile = 3,
  FloppyImage = 4,
  CdImage = 5,
  LargeDisk = 6,
  Folder = 7,
};

// The name of a kind in events and logs: its enumerator's name ("FloppyDrive", "CdImage", ...).
const char* VmKindName(VmKind kind);

// Implemented by the console session.
class VmControl {
 public:
  virtual ~VmControl() = default;
  // A served drive was used (any request but TEST UNIT READY): the console restarts its idle
  // countdown, as its command 100 does.
  virtual void OnVmActivity() = 0;
  // A device asks to unmount the entry of this kind (the console's command 100 + kind): the
  // drive menu unmounts the first connected entry of that kind.
  virtual void OnVmUnmountRequest(VmKind kind) = 0;
};

// A text raised by the virtual media code ("Connection closed.", "Unable to open media.").
class VmText : public std::runtime_error {
 public:
  explicit VmText(const std::string& text) : std::runtime_error(text) {}
};

}  // namespace remcons
