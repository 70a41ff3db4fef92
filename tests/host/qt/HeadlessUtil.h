// What the Qt host's tests share: the simulator set up for a console, the console's properties for
// it, snapshots compared with its screen through libpng, JSON lines read with Qt's JSON parser,
// scratch files, bounded waits that keep Qt's event loop turning; programs are run with
// support/Child.h.
#pragma once

#include <png.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "platform/Hex.h"
#include "session/PropertyBag.h"
#include "sim/ConsoleServer.h"
#include "support/Child.h"
#include "vmedia/VmHarness.h"

namespace remcons::testing {

// Turns the event loop until cond holds or ms pass; cond's last answer.
inline bool WaitUntil(const std::function<bool()>& cond, int ms = 10000) {
  QElapsedTimer timer;
  timer.start();
  while (!cond()) {
    if (timer.elapsed() > ms) return cond();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::msleep(2);
  }
  return true;
}

inline sim::ConsoleKeys SimKeys() {
  sim::ConsoleKeys keys;
  for (size_t i = 0; i < 16; ++i) {
    keys.decryptKey[i] = static_cast<uint8_t>(0x21 + 9 * i);
    keys.encryptKey[i] = static_cast<uint8_t>(0xE1 - 5 * i);
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

// The properties of an enciphered console for the simulator on port.
inline PropertyBag SimParams(uint16_t port) {
  return {{"target", "127.0.0.1"},
          {"port", std::to_string(port)},
          {"encryption", "1"},
          {"keyIndex", "0x00C0FFEE"},
          {"decryptKey", HexBytes(SimKeys().decryptKey.data(), 16)},
          {"encryptKey", HexBytes(SimKeys().encryptKey.data(), 16)},
          {"login", "dGVzdDp0ZXN0"},
          {"fullScreen", "0"}};
}

// A scratch directory removed with the object.
using ScratchDir = vmtest::TempDir;

// Pixels of the PNG file (read with libpng) that differ from the simulator's screen now (x byte
// ignored); -1 when the file cannot be read or the sizes differ.
inline long DifferencesFromScreen(const std::string& png, const sim::ConsoleServer& server) {
  int width = 0, height = 0;
  const std::vector<uint32_t> screen = server.ScreenPixels(&width, &height);
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, png.c_str())) return -1;
  image.format = PNG_FORMAT_RGB;
  std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) return -1;
  if (int(image.width) != width || int(image.height) != height) return -1;
  long differences = 0;
  for (size_t i = 0; i < screen.size(); ++i) {
    const uint32_t p = screen[i];
    const uint8_t* q = &rgb[3 * i];
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
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(line));
    objects.push_back(doc.isObject() ? doc.object() : QJsonObject());
  }
  return objects;
}

// The names of the events read from an events file, in order.
inline std::vector<std::string> EventNames(const std::vector<QJsonObject>& events) {
  std::vector<std::string> names;
  for (const QJsonObject& e : events) names.push_back(e.value("event").toString().toStdString());
  return names;
}

}  // namespace remcons::testing
