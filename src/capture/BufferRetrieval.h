// The server's BOOT and FAULT buffers: a 40-byte request on a plain TCP connection to the buffer
// port, a reply in the capture file format (deciphered here when it carries a key), stored in a
// temporary file and replayed from there.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace remcons {

enum class BufferType : uint32_t { kBoot = 0, kFault = 1 };

inline constexpr uint16_t kDefaultBufferPort = 17990;
inline constexpr uint32_t kBootBufferLimit = 0x400000;
inline constexpr uint32_t kFaultBufferLimit = 0x200000;
inline constexpr size_t kBufferRequestSize = 40;
// Longest wait for each piece of a reply: a silent server must not hold the window for ever.
inline constexpr uint32_t kBufferReceiveTimeoutMs = 10000;

// The request: the type, 0, "Kroq CAPTURED BUFFER" with its zero, zero padding.
std::array<uint8_t, kBufferRequestSize> BufferRequest(BufferType type);

// The buffer connection as the retrieval uses it.
class BufferLink {
 public:
  virtual ~BufferLink() = default;
  // Sends everything; false on failure.
  virtual bool Send(const uint8_t* data, size_t size) = 0;
  // One receive: the count, 0 when the peer closed, -1 on an error or time-out.
  virtual int Receive(uint8_t* buffer, size_t size) = 0;
};

// Opens the buffer connection to address:port; nullptr when it cannot be made. Tests replace it.
using BufferConnector =
    std::function<std::unique_ptr<BufferLink>(const std::string& address, uint16_t port)>;
// A TCP connection with a receive time-out of kBufferReceiveTimeoutMs.
std::unique_ptr<BufferLink> ConnectBufferLink(const std::string& address, uint16_t port);

// Sends the request and receives the reply: its header (every byte of it), then up to its total
// size, limited to 4 MiB for BOOT and 2 MiB for FAULT. Deciphered when it has a key. Empty when
// the reply is not a buffer: cut short, a total below the header or a key longer than 24 bytes.
std::vector<uint8_t> RetrieveBuffer(BufferType type, BufferLink& link);

// Makes a new empty file in folder named prefix + six characters + ".kro". The path, or empty
// with errno set.
std::string MakeTempFile(const std::string& folder, const char* prefix);
// The folder for temporary files: $TMPDIR, else /tmp.
std::string TempFolder();
// Writes bytes to path, replacing what it holds: 0, -5 when the file cannot be created, -4 when
// the bytes cannot be written (errno set).
int WriteTempFile(const std::string& path, const std::vector<uint8_t>& bytes);

}  // namespace remcons
