// An ISO image served as a CD-ROM (2,048-byte blocks): capacity, reads, a one-track table of
// contents, mode sense, media event notification and eject.
#pragma once

#include "vmedia/Scsi.h"

namespace remcons {

class CScsiCdImage : public CScsi {
 public:
  enum EventState : int { kNoEvent = 0, kNewMedium = 1, kPresent = 2, kEjected = 4 };
  static constexpr uint32_t kTocLimit = 412;

  CScsiCdImage(TcpSocket* socket, const std::string& path, ScsiContext context);

  void process() override;

 private:
  void client_test_unit_ready();
  void client_start_stop_unit();
  void client_pa_media_removal();
  void client_read_capacity();
  void client_read();
  void client_read_toc();
  void client_mode_sense();
  void client_get_event_status();

  int eventState_ = kNoEvent;
  uint64_t size_ = 0;
};

}  // namespace remcons
