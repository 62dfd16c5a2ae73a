#pragma once

#include <QByteArray>
#include <QString>

namespace lf {

// Replaces `path` with `data` so that a crash at any moment leaves either the old or the new
// file: a temporary file in the same folder is written, flushed to disk and renamed over it.
// The file gets `mode` (private to the user by default). With `sync` false nothing is flushed:
// the file still comes through the process being killed, but a power cut may take the new one.
bool writeFileAtomically(
    const QString &path, const QByteArray &data, QString *error = nullptr, int mode = 0600, bool sync = true);

// Copies a regular file to `destination`, which must not exist yet, with the source's permission
// bits. The kernel copies the bytes where it can; elsewhere they go through a buffer. On failure
// (a full disk among others) nothing is left at `destination` and `error` says why.
bool copyFileContents(const QString &source, const QString &destination, QString *error = nullptr);

// Creates the folder (and its parents) when missing and makes it private to the user.
bool makePrivateFolder(const QString &path);

// A file name that does not exist yet in `folder`: `name` itself when free, else "base_N.ext"
// with N counting from 1 ("name_1." for a name without extension).
QString uniqueFileNameAtPath(const QString &name, const QString &folder);

// A path in slash form; a classic colon-separated path ("Disk:Users:me:a.jpg") is converted.
QString posixFlavor(const QString &path);

// The path with every symbolic link resolved, component by component; empty when the path is
// not absolute, a component does not exist, or a link cannot be read.
QString stringByResolvingSymlinksAndAliases(const QString &path);

// True when `path`, once cleaned, lies inside `folder` (or is the folder itself).
bool isInsideFolder(const QString &path, const QString &folder);

// A single, harmless file name taken from outside input: no folders, no "..", no control
// characters; empty when nothing usable is left.
QString safeFileName(const QString &name);

// Photo types, told by a file name's extension (compared in lower case). Every part that takes
// photos in (drops, the Pictures palette, the command line, the scripting interface) asks these.

// The extension of a path in lower case ("" when none).
QString lowerExtension(const QString &path);
// Files with this extension are photos without looking inside.
bool isPhotoExtension(const QString &extension);
// A full-size upload of this type is the file itself: the service takes it as it is.
bool isUploadAsIsExtension(const QString &extension);
// Photo types the service does not take as they are (HEIC, HEIF, AVIF, WebP): a full-size upload
// goes as a JPEG that keeps the photo's date.
bool isConvertedPhotoExtension(const QString &extension);
// The image format the extension promises, as image readers name it ("jpeg", "heif", "avif",
// "webp"); empty for an extension that promises none (the content then decides).
QByteArray promisedImageFormat(const QString &extension);

} // namespace lf
