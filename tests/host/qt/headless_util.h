// What the headless console's tests share: the simulator set up for a console, the console's
// properties for it, PNG files read back with libpng, JSON lines read with Qt's JSON parser, and
// scratch files.
#pragma once

#include <png.h>
#include <stdlib.h>
#include <unistd.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "session/PropertyBag.h"
#include "sim/ConsoleServer.h"

namespace remcons::testing {

inline sim::ConsoleKeys SimKeys() {
  sim::ConsoleKeys keys;
  for (int i = 0; i < 16; ++i) {
    keys.decryptKey[static_cast<size_t>(i)] = static_cast<uint8_t>(0x21 + 9 * i);
    keys.encryptKey[static_cast<size_t>(i)] = static_cast<uint8_t>(0xE1 - 5 * i);
  }
  return keys;
}

inline sim::ConsoleServerOptions SimOptions() {
  sim::ConsoleServerOptions options;
  options.keys = SimKeys();
  options.keyIndex = 0x00C0FFEE;
  options.screen.bootMs = 100;
  options.frameIntervalMs = 10;
  options.loginQuietMs = 50;
  return options;
}

inline std::string HexKey(const std::array<uint8_t, 16>& key) {
  std::string out;
  char two[3];
  for (uint8_t b : key) {
    std::snprintf(two, sizeof two, "%02X", b);
    out += two;
  }
  return out;
}

// The properties of an enciphered console for the simulator on port.
inline PropertyBag SimParams(uint16_t port) {
  return {{"target", "127.0.0.1"},
          {"port", std::to_string(port)},
          {"encryption", "1"},
          {"keyIndex", "0x00C0FFEE"},
          {"decryptKey", HexKey(SimKeys().decryptKey)},
          {"encryptKey", HexKey(SimKeys().encryptKey)},
          {"login", "dGVzdDp0ZXN0"},
          {"fullScreen", "0"}};
}

// A scratch directory removed with the object.
class ScratchDir {
 public:
  ScratchDir() {
    char pattern[] = "/tmp/remcons-headless-XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

struct RgbImage {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;  // 3 bytes a pixel
};

// A PNG file read with libpng; nullopt when it cannot be read.
inline std::optional<RgbImage> ReadPng(const std::string& path) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return std::nullopt;
  image.format = PNG_FORMAT_RGB;
  RgbImage out;
  out.width = static_cast<int>(image.width);
  out.height = static_cast<int>(image.height);
  out.rgb.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, out.rgb.data(), 0, nullptr)) return std::nullopt;
  return out;
}

// Pixels of the image that differ from the simulator's screen (32-bit pixels, x byte ignored);
// -1 when the sizes differ.
inline long DifferencesFromScreen(const RgbImage& image, const std::vector<uint32_t>& screen,
                                  int width, int height) {
  if (image.width != width || image.height != height) return -1;
  long differences = 0;
  for (size_t i = 0; i < screen.size(); ++i) {
    const uint32_t p = screen[i];
    const uint8_t* q = &image.rgb[3 * i];
    differences += q[0] != ((p >> 16) & 0xFF) || q[1] != ((p >> 8) & 0xFF) || q[2] != (p & 0xFF);
  }
  return differences;
}

// The lines of a file, each parsed as a JSON object (an empty object for a line that is not one).
inline std::vector<QJsonObject> ReadJsonLines(const std::string& path,
                                              std::vector<std::string>* raw = nullptr) {
  std::vector<QJsonObject> objects;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    if (raw) raw->push_back(line);
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
    objects.push_back(error.error == QJsonParseError::NoError && doc.isObject() ? doc.object()
                                                                                : QJsonObject());
  }
  return objects;
}

inline std::vector<std::string> EventNames(const std::vector<QJsonObject>& events) {
  std::vector<std::string> names;
  for (const QJsonObject& e : events) names.push_back(e.value("event").toString().toStdString());
  return names;
}

}  // namespace remcons::testing
