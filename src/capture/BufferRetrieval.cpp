#include "capture/BufferRetrieval.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "capture/CaptureFile.h"
#include "platform/ByteOrder.h"
#include "platform/Socket.h"
#include "platform/Trace.h"

namespace remcons {
namespace {

constexpr char kRequestText[] = "Kroq CAPTURED BUFFER";
constexpr size_t kReceivePiece = 1024;

class TcpBufferLink : public BufferLink {
 public:
  explicit TcpBufferLink(std::unique_ptr<TcpSocket> socket) : socket_(std::move(socket)) {}
  bool Send(const uint8_t* data, size_t size) override {
    return socket_->SendAll(data, size) == static_cast<int>(size);
  }
  int Receive(uint8_t* buffer, size_t size) override { return socket_->Receive(buffer, size); }

 private:
  std::unique_ptr<TcpSocket> socket_;
};

// Receives until have reaches want; false when the connection ends or fails first.
bool ReceiveUpTo(BufferLink& link, std::vector<uint8_t>& buffer, size_t want, size_t piece) {
  while (buffer.size() < want) {
    const size_t have = buffer.size();
    buffer.resize(std::min(want, have + piece));
    const int got = link.Receive(buffer.data() + have, buffer.size() - have);
    if (got <= 0) {
      RC_TRACE("Socket closed\n");
      return false;
    }
    buffer.resize(have + static_cast<size_t>(got));
  }
  return true;
}

}  // namespace

std::array<uint8_t, kBufferRequestSize> BufferRequest(BufferType type) {
  std::array<uint8_t, kBufferRequestSize> request{};
  request[0] = static_cast<uint8_t>(type);
  std::memcpy(&request[8], kRequestText, sizeof kRequestText);
  return request;
}

std::unique_ptr<BufferLink> ConnectBufferLink(const std::string& address, uint16_t port) {
  std::unique_ptr<TcpSocket> socket = TcpSocket::Create();
  if (!socket || !socket->Connect(address, port)) return nullptr;
  socket->SetReceiveTimeout(kBufferReceiveTimeoutMs);
  return std::make_unique<TcpBufferLink>(std::move(socket));
}

std::vector<uint8_t> RetrieveBuffer(BufferType type, BufferLink& link) {
  const auto request = BufferRequest(type);
  if (!link.Send(request.data(), request.size())) {
    RC_TRACE("Socket closed\n");
    return {};
  }
  std::vector<uint8_t> buffer;
  buffer.reserve(kCaptureHeaderSize);
  // The whole header, however the network cuts it: the total and the key are in its last part.
  if (!ReceiveUpTo(link, buffer, kCaptureHeaderSize, kCaptureHeaderSize)) return {};
  const uint32_t limit = type == BufferType::kBoot ? kBootBufferLimit : kFaultBufferLimit;
  const uint32_t total = std::min(LoadLe32(&buffer[324]), limit);
  const uint32_t keyLength = LoadLe32(&buffer[280]);
  if (total < kCaptureHeaderSize || keyLength > kMaxCaptureKey) {
    RC_TRACE("Buffer reply refused: total %u, key length %u\n", total, keyLength);
    return {};
  }
  buffer.reserve(total);
  if (!ReceiveUpTo(link, buffer, total, kReceivePiece)) return {};
  DecipherBuffer(buffer.data(), buffer.size());
  return buffer;
}

std::string TempFolder() {
  const char* dir = std::getenv("TMPDIR");
  return dir && *dir ? dir : "/tmp";
}

std::string MakeTempFile(const std::string& folder, const char* prefix) {
  std::string path = folder;
  if (path.empty() || path.back() != '/') path += '/';
  path += prefix;
  path += "XXXXXX.";
  path += kCaptureExtension;
  std::vector<char> name(path.begin(), path.end());
  name.push_back('\0');
  const int fd = ::mkstemps(name.data(), static_cast<int>(std::strlen(kCaptureExtension) + 1));
  if (fd < 0) return {};
  ::close(fd);
  return name.data();
}

int WriteTempFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return -5;
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t w = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) break;
    done += static_cast<size_t>(w);
  }
  const int err = errno;
  if (::close(fd) != 0 || done < bytes.size()) {
    errno = done < bytes.size() ? err : errno;
    return -4;
  }
  return 0;
}

}  // namespace remcons
