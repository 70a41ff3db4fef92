// Fuzz target: any byte string through the video stream decoder, in chunks of varying size, as a
// console or as a joining console. Nothing may be written outside the frame or the block, and the
// decoder must end when the bytes do.
//
// With libFuzzer, from the repository's top:
//   clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -Isrc
//     fuzz/video_decoder_fuzz.cpp src/video/*.cpp src/platform/*.cpp -lz -o video_decoder_fuzz
// The tests run the same entry point over random and damaged streams.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/host.h"
#include "platform/painter.h"
#include "video/VideoDecoder.h"

namespace {

using namespace remcons;

class QuietHost : public Host {
 public:
  bool IsUiThread() override { return true; }
  bool SendToUi(std::function<void()> fn) override {
    fn();
    return true;
  }
  void PostToUi(std::function<void()> fn) override { fn(); }
  void Invalidate(const Rect*, bool) override {}
  void StartTimer(int, uint32_t) override {}
  void StopTimer(int) override {}
  int MessageBox(const std::string&, const std::string&, uint32_t) override { return kIdOk; }
  bool EnumDisplayMode(int index, DisplayMode* mode) override {
    if (index > 2) return false;
    *mode = DisplayMode{640 + 160 * index, 480 + 120 * index, 32, 60, 0};
    return true;
  }
  int ChangeDisplayMode(const DisplayMode*) override { return kDispChangeSuccessful; }
  std::optional<std::string> PageLocation() override { return std::nullopt; }
};

class BoxPainter : public Painter {
 public:
  void DrawText(Surface& target, int x, int y, std::string_view text, const FontSpec& font,
                Pixel color, std::optional<Pixel>) override {
    target.Fill({x, y, x + 8 * static_cast<int>(text.size()), y + font.pixelHeight}, color);
  }
  int TextWidth(std::string_view text, const FontSpec&) override {
    return 8 * static_cast<int>(text.size());
  }
  const Surface* Image(std::string_view) override { return nullptr; }
};

class QuietEvents : public VideoEvents {
 public:
  void SetStatusText(std::string_view text) override { status.assign(text.substr(0, 255)); }
  void NotifyStatusChanged() override {}
  void NotifyDialog() override {}
  void NotifySessionClosed() override {}
  void ShowMessage(const std::string&, const std::string&, uint32_t) override {}
  void SetStatusText2(std::string_view) override {}
  void SetPowerOn() override {}
  void SetPowerOff() override {}
  bool Replaying() override { return false; }
  int Write(const uint8_t*, int length) override { return length; }
  void ChangeKeys() override {}
  void OnJoinAnswer(std::string_view) override {}
  void SetInputEnabled(bool) override {}
  void NotifyResize() override {}
  void RedrawMenuBar(int) override {}
  void RepositionMenuBar(int) override {}
  std::string status;
};

// The input after its first byte, in reads of 1 to 64 bytes or whole buffers.
class ChunkedSource : public ByteSource {
 public:
  ChunkedSource(const uint8_t* data, size_t size, uint8_t pattern)
      : data_(data), size_(size), pattern_(pattern) {}
  int Read(uint8_t* buffer, int size) override {
    const size_t left = size_ - offset_;
    size_t want =
        pattern_ & 0x80 ? static_cast<size_t>(size) : 1 + ((pattern_ * 31u + reads_ * 7u) & 63u);
    ++reads_;
    const size_t n = std::min({left, want, static_cast<size_t>(size)});
    if (n) std::memcpy(buffer, data_ + offset_, n);
    offset_ += n;
    return static_cast<int>(n);
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t offset_ = 0;
  uint8_t pattern_;
  uint32_t reads_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t options = data[0];
  QuietHost host;
  BoxPainter painter;
  QuietEvents events;
  FrameBuffer frameBuffer(host, painter);
  uint32_t width = 320, height = 240;
  if (!frameBuffer.CreateSurfaces(&width, &height)) return 0;
  VideoModes modes(host, events);
  modes.SetFullScreen(options & 0x40);
  VideoDecoder decoder(frameBuffer, modes, events);
  ChunkedSource source(data + 1, size - 1, options);
  decoder.reader().SetSource(&source);
  DecoderRole role;
  role.multiUserClient = options & 1;
  role.sessionLeader = options & 2;
  decoder.Start(role);
  decoder.Decode();
  if (decoder.pixel_count() > 256) __builtin_trap();
  return 0;
}
