// Surfaces as Qt images: wrapping without a copy, and PNG files (snapshots, menu bar artwork).
// PNG files are written by the platform's encoder (platform/png.h, the one place that writes them)
// and read through Qt's image readers.
#pragma once

#include <QImage>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/Png.h"
#include "platform/Surface.h"

namespace remcons {

// A QImage over the surface's own pixels (Format_RGB32, no copy); valid while the surface lives and
// keeps its size. Painting on it paints the surface.
QImage ImageOf(Surface& surface);
// Read-only: painting on it would detach into a copy.
QImage ConstImageOf(const Surface& surface);

// A copy of any QImage as a surface; transparency is dropped. An empty surface for a null image.
Surface SurfaceFromImage(const QImage& image);

// Largest image accepted from a file, per side: more than any screen, little enough that a forged
// header cannot make us allocate gigabytes.
constexpr int kMaxImageSide = 16384;

// Writes the surface as a PNG file; on failure returns false and says why in *error.
bool SavePng(const Surface& surface, const std::string& path, std::string* error = nullptr);
// Reads a PNG file; nullopt with a reason in *error when it cannot be read, is not a PNG, or is
// larger than kMaxImageSide.
std::optional<Surface> LoadPng(const std::string& path, std::string* error = nullptr);

// A PNG file in memory, read; the same checks as LoadPng. (EncodePng, platform/png.h, writes one.)
std::optional<Surface> DecodePng(const uint8_t* data, size_t size, std::string* error = nullptr);

}  // namespace remcons
