#pragma once

#include <QByteArray>
#include <QSize>
#include <QString>

namespace lf::dev {

// Files the service hands out, generated rather than shipped: icons, demo photos, the terms
// document and the client package. All deterministic for the same arguments.

// A square PNG icon in the given colour; `wide` gives the sign-in button shape.
QByteArray iconPng(unsigned rgb, bool wide);
// A JPEG (PNG when no JPEG writer is available) photo-like gradient.
QByteArray demoPhoto(int seed, int width, int height);
// A one-page PDF of the terms of service, dated.
QByteArray termsPdf(const QString &dateText);
// A release archive of the given version: one folder "Lanternfish-<version>" with the marker
// file, a stand-in bin/lanternfish and share/. `kind` crafts a faulty package for tests:
// "escape", "absolute", "link" (to /etc), "fifo", "second-folder", "huge" (a file that claims
// 2 GB), "no-marker", "wrong-version", "exit-1" and
// "hang" (of --version), "no-answer" (the relaunched program exits at once); else a good one.
QByteArray clientPackage(const QString &version, const QString &kind = {});

// Pixel size of an image file without decoding it; invalid when it is not an image.
QSize imageSize(const QString &path);
// A JPEG thumbnail that fits `edge` pixels; empty when the file is not an image.
QByteArray thumbnail(const QString &path, int edge);
// The MIME type of an image file by its first bytes.
QByteArray sniffMimeType(const QByteArray &head);

} // namespace lf::dev
