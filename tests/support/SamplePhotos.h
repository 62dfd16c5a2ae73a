#pragma once

#include <QString>
#include <QStringList>

namespace lf::test {

// The photos the demo shares and the whole-program tests send: a large noisy JPEG turned by
// its EXIF orientation, a small PNG, and a small JPEG with an IPTC caption, in that order.
inline constexpr char kSampleCaption[] = "Lanterns over the harbour";
inline constexpr int kSampleOrientation = 6; // shown turned a quarter clockwise
inline constexpr int kSampleLargeWidth = 2400; // as stored, before the orientation is applied
inline constexpr int kSampleLargeHeight = 1800;

// Writes the three files into `folder` (made when missing) and returns their paths; empty, with
// `error` set, when one cannot be written.
QStringList writeSamplePhotos(const QString &folder, QString *error);

} // namespace lf::test
