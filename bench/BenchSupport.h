#pragma once

#include "share/PhotoBytes.h"

#include <QImage>
#include <QString>

#include <functional>

// What the benches share: camera-like test photos, the libjpeg-turbo floor, and the process's
// own CPU and memory figures.
namespace lf::bench {

// A picture with the texture of a photo: smooth light, edges and sensor noise, so its JPEG has a
// camera file's size and decoding cost.
QImage photoLike(int width, int height);

// Writes photoLike(width, height) to `path` in `format`; a JPEG gets a camera's EXIF, since
// reading it is part of the work. False (and a message on stderr) when it cannot be written.
bool writeCameraPhoto(const QString &path, int width, int height, const char *format = "jpeg");

// libjpeg-turbo on its own: every scanline decoded at 1/4 scale into one reused row.
bool decodeQuarter(const PhotoBytes &bytes);

// CPU time (user and system) of this process so far, in seconds.
double cpuSeconds();
// This process's peak resident memory so far, in megabytes.
double peakMB();

// Runs the event loop until `done` (which only main-thread deliveries change) or `timeoutMs`.
void runUntil(const std::function<bool()> &done, int timeoutMs);

} // namespace lf::bench
