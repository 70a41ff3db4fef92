#include "platform/Png.h"

#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/ByteOrder.h"

namespace remcons {
namespace {

void PutChunk(std::vector<uint8_t>& out, const char type[4], const uint8_t* data, size_t size) {
  AppendBe32(out, static_cast<uint32_t>(size));
  const size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  if (size) out.insert(out.end(), data, data + size);
  uLong crc = crc32(0L, Z_NULL, 0);
  crc = crc32(crc, out.data() + start, static_cast<uInt>(out.size() - start));
  AppendBe32(out, static_cast<uint32_t>(crc));
}

}  // namespace

std::vector<uint8_t> EncodePng(const Surface& surface) {
  const int width = surface.width(), height = surface.height();
  // A PNG file has at least one pixel: an empty picture has no file.
  if (width <= 0 || height <= 0) return {};
  std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

  const uint32_t w = static_cast<uint32_t>(width), h = static_cast<uint32_t>(height);
  // Bit depth 8, colour type RGB, deflate, adaptive filtering, no interlace.
  uint8_t ihdr[13] = {0, 0, 0, 0, 0, 0, 0, 0, 8, 2, 0, 0, 0};
  StoreBe32(ihdr, w);
  StoreBe32(ihdr + 4, h);
  PutChunk(out, "IHDR", ihdr, sizeof ihdr);

  // Each row: filter "Sub" (difference to the pixel on the left), which suits screens of flat
  // areas and ramps.
  const size_t rowBytes = static_cast<size_t>(width) * 3 + 1;
  std::vector<uint8_t> raw(rowBytes * static_cast<size_t>(height));
  for (int y = 0; y < height; ++y) {
    uint8_t* row = raw.data() + rowBytes * static_cast<size_t>(y);
    row[0] = 1;
    const Pixel* src = surface.Row(y);
    uint8_t prev[3] = {0, 0, 0};
    for (int x = 0; x < width; ++x) {
      const uint8_t rgb[3] = {RedOf(src[x]), GreenOf(src[x]), BlueOf(src[x])};
      for (int c = 0; c < 3; ++c) {
        row[1 + x * 3 + c] = static_cast<uint8_t>(rgb[c] - prev[c]);
        prev[c] = rgb[c];
      }
    }
  }
  uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
  std::vector<uint8_t> packed(packedSize);
  if (compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()), 6) !=
      Z_OK) {
    return {};
  }
  PutChunk(out, "IDAT", packed.data(), packedSize);
  PutChunk(out, "IEND", nullptr, 0);
  return out;
}

bool WritePng(const std::string& path, const Surface& surface, std::string* error) {
  const std::vector<uint8_t> png = EncodePng(surface);
  if (png.empty()) {
    if (error) *error = "cannot compress the picture";
    return false;
  }
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "wb"), &std::fclose);
  if (!file) {
    if (error) *error = path + ": " + std::strerror(errno);
    return false;
  }
  if (std::fwrite(png.data(), 1, png.size(), file.get()) != png.size() ||
      std::fflush(file.get()) != 0) {
    if (error) *error = path + ": " + std::strerror(errno);
    return false;
  }
  if (std::fclose(file.release()) != 0) {
    if (error) *error = path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace remcons
