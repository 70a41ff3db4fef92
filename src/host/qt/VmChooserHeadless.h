// The headless console's answer to the drive menu's image, CD image and folder entries: there is
// no screen to show a dialog on, so a message box (answered and recorded as every other) says how
// to serve such a medium from the command line, and the entry stays unmounted.
#pragma once

#include <string>

#include "platform/Host.h"
#include "vmedia/VMConnection.h"

namespace remcons {

class HeadlessVmChooser : public VmTargetChooser {
 public:
  // host: where the box is shown (null: nowhere; the entry still stays unmounted).
  explicit HeadlessVmChooser(Host* host) : host_(host) {}

  bool ChooseImageFile(std::string*) override { return Refuse(Reason(VmKind::ImageFile)); }
  bool ChooseCdImage(std::string*) override { return Refuse(Reason(VmKind::CdImage)); }
  bool ChooseFolder(std::string*) override { return Refuse(Reason(VmKind::Folder)); }

  static constexpr const char* kCaption = "Error";
  // The box's text for an entry of this kind.
  static std::string Reason(VmKind kind) {
    switch (kind) {
      case VmKind::CdImage:
        return "No file dialog can be shown without a display: serve an ISO image with "
               "--mount cdimage=PATH.";
      case VmKind::Folder:
        return "No folder dialog can be shown without a display: serve a folder with "
               "--mount folder=PATH.";
      default:
        return "No file dialog can be shown without a display: serve an image file with "
               "--mount image=PATH.";
    }
  }

 private:
  bool Refuse(const std::string& reason) {
    if (host_) host_->MessageBox(reason, kCaption, kMbOk | kMbIconError);
    return false;
  }

  Host* host_;
};

}  // namespace remcons
