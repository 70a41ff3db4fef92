// remcons-tool decode STREAM OUT.png [--size WxH]: runs a raw video stream (the deciphered bytes
// of a console connection) through the console's decoder into a frame of the given size and
// writes the picture as PNG. Prints the stream's mode changes, text records, firmware commands
// and resynchronisation marks, one per line:
//   mode WIDTHxHEIGHT
//   text CHANNEL TEXT            (channel in decimal; bytes outside 32-126 as \xNN)
//   firmware NUMBER NAME [OPERAND...]
//   resync
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Tool.h"
#include "platform/Png.h"
#include "video/OfflineVideo.h"
#include "video/VideoDecoder.h"

namespace remcons::tool {
namespace {

class FileSource : public ByteSource {
 public:
  explicit FileSource(FILE* file) : file_(file) {}
  int Read(uint8_t* buffer, int size) override {
    const size_t n = std::fread(buffer, 1, static_cast<size_t>(size), file_);
    if (n == 0 && std::ferror(file_)) error_ = errno;
    return static_cast<int>(n);
  }
  int error() const { return error_; }

 private:
  FILE* file_;
  int error_ = 0;
};

const char* FirmwareName(uint32_t command) {
  switch (command) {
    case 1:
      return "exit";
    case 3:
      return "frame-rate";
    case 4:
      return "power-on";
    case 5:
      return "power-off";
    case 6:
      return "video-suspended";
    case 7:
    case 8:
      return "none";
    case 9:
      return "key-change";
    case 10:
      return "seize";
    case 11:
      return "kill";
    default:
      return "unknown";
  }
}

class Printer : public StreamObserver {
 public:
  void OnMode(int width, int height) override { std::printf("mode %dx%d\n", width, height); }
  void OnText(uint8_t channel, std::string_view text) override {
    std::string shown;
    for (unsigned char c : text) {
      if (c >= 32 && c < 127 && c != '\\') {
        shown += static_cast<char>(c);
      } else {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
        shown += escaped;
      }
    }
    std::printf("text %u %s\n", channel, shown.c_str());
  }
  void OnFirmware(uint32_t command, const uint32_t* operands, uint32_t count) override {
    std::printf("firmware %u %s", command, FirmwareName(command));
    for (uint32_t i = 0; i < count; ++i) std::printf(" %u", operands[i]);
    std::printf("\n");
  }
  void OnResync() override { std::printf("resync\n"); }
};

bool ParseSize(const std::string& text, uint32_t* width, uint32_t* height) {
  unsigned w = 0, h = 0;
  char tail = 0;
  if (std::sscanf(text.c_str(), "%ux%u%c", &w, &h, &tail) != 2 || w == 0 || h == 0 || w > 65535 ||
      h > 65535) {
    return false;
  }
  *width = w;
  *height = h;
  return true;
}

int Usage() {
  std::fprintf(stderr, "usage: remcons-tool decode STREAM OUT.png [--size WxH]\n");
  return 2;
}

int Decode(const std::vector<std::string>& args) {
  std::vector<std::string> files;
  uint32_t width = 1280, height = 1024;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--size") {
      if (i + 1 >= args.size() || !ParseSize(args[i + 1], &width, &height)) return Usage();
      ++i;
    } else if (args[i].rfind("--size=", 0) == 0) {
      if (!ParseSize(args[i].substr(7), &width, &height)) return Usage();
    } else {
      files.push_back(args[i]);
    }
  }
  if (files.size() != 2) return Usage();

  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(files[0].c_str(), "rb"), &std::fclose);
  if (!file) {
    std::fprintf(stderr, "remcons-tool: cannot open %s: %s\n", files[0].c_str(),
                 std::strerror(errno));
    return 1;
  }

  OfflineHost host;
  host.onMessageBox = [](const std::string& text, const std::string& caption) {
    std::fprintf(stderr, "remcons-tool: [%s] %s\n", caption.c_str(), text.c_str());
  };
  OfflinePainter painter;  // status lines are not drawn: the picture is the server's
  OfflineEvents events;
  FrameBuffer frameBuffer(host, painter);
  const uint32_t asked = width, askedHeight = height;
  if (!frameBuffer.CreateSurfaces(&width, &height)) {
    std::fprintf(stderr, "remcons-tool: %s\n", frameBuffer.failureText().c_str());
    return 1;
  }
  if (width != asked || height != askedHeight) {
    std::fprintf(stderr, "remcons-tool: the frame is limited to %ux%u\n", width, height);
  }
  VideoModes modes(host, events);
  VideoDecoder decoder(frameBuffer, modes, events);
  FileSource source(file.get());
  Printer printer;
  decoder.reader().SetSource(&source);
  decoder.SetObserver(&printer);
  decoder.Start({});
  decoder.Decode();
  std::fflush(stdout);
  if (source.error() != 0) {
    std::fprintf(stderr, "remcons-tool: cannot read %s: %s\n", files[0].c_str(),
                 std::strerror(source.error()));
    return 1;
  }
  std::fprintf(stderr, "remcons-tool: %u blocks\n", frameBuffer.blocks_finished());

  std::string error;
  if (!WritePng(files[1], frameBuffer.Snapshot(), &error)) {
    std::fprintf(stderr, "remcons-tool: cannot write %s\n", error.c_str());
    return 1;
  }
  return 0;
}

const Registration kDecode("decode", "decode STREAM OUT.png [--size WxH]", Decode);

}  // namespace
}  // namespace remcons::tool
