// Unsigned integers loaded from and stored to bytes in a stated order, for wire formats and files.
#pragma once

#include <cstdint>
#include <vector>

namespace remcons {

constexpr uint16_t LoadBe16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] << 8 | p[1]);
}
constexpr uint32_t LoadBe24(const uint8_t* p) {
  return uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
}
constexpr uint32_t LoadBe32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | LoadBe24(p + 1);
}
constexpr uint16_t LoadLe16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}
constexpr uint32_t LoadLe32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

constexpr void StoreBe16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
constexpr void StoreBe32(uint8_t* p, uint32_t v) {
  StoreBe16(p, v >> 16);
  StoreBe16(p + 2, v);
}
constexpr void StoreLe16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
constexpr void StoreLe32(uint8_t* p, uint32_t v) {
  StoreLe16(p, v);
  StoreLe16(p + 2, v >> 16);
}

inline void AppendBe32(std::vector<uint8_t>& out, uint32_t v) {
  const uint8_t bytes[4] = {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
                            static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
  out.insert(out.end(), bytes, bytes + 4);
}

}  // namespace remcons
