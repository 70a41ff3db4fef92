// The SCSI operation codes the devices serve or pass through, and the sense data they answer with.
#pragma once

#include <cstdint>

namespace remcons::scsi {

enum Op : uint8_t {
  kTestUnitReady = 0x00,
  kFormatUnit = 0x04,
  kStartStopUnit = 0x1B,
  kSendDiagnostic = 0x1D,
  kPreventAllowMediumRemoval = 0x1E,
  kReadFormatCapacities = 0x23,
  kReadCapacity = 0x25,
  kRead10 = 0x28,
  kWrite10 = 0x2A,
  kWriteAndVerify10 = 0x2E,
  kReadSubChannel = 0x42,
  kReadToc = 0x43,
  kReadHeader = 0x44,
  kGetEventStatusNotification = 0x4A,
  kStopPlayScan = 0x4E,
  kModeSense10 = 0x5A,
  kRead12 = 0xA8,
  kWrite12 = 0xAA,
  kReadCdMsf = 0xB9,
  kMechanismStatus = 0xBD,
  kReadCd = 0xBE,
};

enum SenseKey : uint8_t {
  kNoSense = 0,
  kNotReady = 2,
  kMediumErrorKey = 3,
  kHardwareError = 4,
  kIllegalRequest = 5,
  kUnitAttention = 6,
  kDataProtect = 7,
};

// Additional sense code of a drive that was reset or powered on.
inline constexpr uint8_t kAscResetOccurred = 0x29;

// Sense key, additional sense code and qualifier.
struct Sense {
  uint8_t key, asc, ascq;
};

inline constexpr Sense kGood{kNoSense, 0, 0};
inline constexpr Sense kMediumNotPresent{kNotReady, 0x3A, 0};
inline constexpr Sense kMediumError{kMediumErrorKey, 0x10, 0};  // ID CRC or ECC error
inline constexpr Sense kInvalidOperation{kIllegalRequest, 0x20, 0};
inline constexpr Sense kBlockOutOfRange{kIllegalRequest, 0x21, 0};
inline constexpr Sense kInvalidFieldInCdb{kIllegalRequest, 0x24, 0};
inline constexpr Sense kInvalidParameterList{kIllegalRequest, 0x26, 0};
inline constexpr Sense kMediumChanged{kUnitAttention, 0x28, 0};
inline constexpr Sense kWriteProtected{kDataProtect, 0x27, 0};

}  // namespace remcons::scsi
