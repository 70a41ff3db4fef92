// A block device with 512-byte blocks served with the USB floppy (UFI) command set: floppy drives,
// larger removable drives, image files and folder images.
#pragma once

#include "vmedia/Scsi.h"

namespace remcons {

class CScsiFloppy : public CScsi {
 public:
  // A drive or image file; an open failure only means that no medium is present.
  CScsiFloppy(TcpSocket* socket, const std::string& target, ScsiContext context);
  // A folder image, which the device's medium owns from now on.
  CScsiFloppy(TcpSocket* socket, const std::string& target, std::unique_ptr<FATFile> folder,
              ScsiContext context);

  void process() override;

 private:
  void client_test_unit_ready();
  void client_format_unit();
  void client_start_stop_unit();
  void client_send_diagnostic();
  void client_pa_media_removal();
  void client_read_capacities();
  void client_read_capacity();
  void client_read();
  void client_write();
  // Refreshes the medium's size; 0 without a medium.
  uint64_t RefreshSize();
  // Blocks and block length of the medium of this size.
  void Geometry(uint64_t size, uint64_t* blocks, uint32_t* blockLength);
  bool IsDrive() const;

  uint8_t formatCapacities_[20] = {};
};

}  // namespace remcons
