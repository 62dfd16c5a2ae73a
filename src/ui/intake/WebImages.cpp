#include "intake/WebImages.h"

#include "api/HttpTransport.h"
#include "foundation/Clock.h"
#include "foundation/FileRules.h"
#include "foundation/Strings.h"
#include "share/PhotoIntake.h"
#include "share/PhotoPrep.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageWriter>
#include <QMimeData>
#include <QPainter>
#include <QRandomGenerator>
#include <QUrl>

namespace lf {

namespace {

constexpr qint64 kMegabyte = 1024 * 1024;

// Image data types a drag or the clipboard may carry, best first.
const QList<QString> &imageDataTypes() {
    static const QList<QString> types {QStringLiteral("application/x-qt-image"), QStringLiteral("image/png"),
        QStringLiteral("image/tiff"), QStringLiteral("image/jpeg")};
    return types;
}

// Removes the file unless it is an image of a type that can be shared; the problem, or empty.
QString keepOnlyPhoto(const QString &file) {
    QString problem = supportedFile(file) ? photoFileProblem(file) : QStringLiteral("not a photo type");
    if (!problem.isEmpty())
        QFile::remove(file);
    return problem;
}

} // namespace

QString webImageFileName(const QString &url) {
    const QString path = QUrl(url).path();
    QString name = path.section(QLatin1Char('/'), -1);
    // A path with a literal "?" left after parsing still ends its name there.
    name = name.section(QLatin1Char('?'), 0, 0);
    return safeFileName(name);
}

QString writeDataUrlImage(const QString &url, const QString &folder, QString *problem) {
    const auto fail = [problem](const QString &why) {
        *problem = why;
        return QString();
    };
    if (!url.startsWith(QLatin1String("data:"), Qt::CaseInsensitive))
        return fail(QStringLiteral("not a data: URL"));
    const qsizetype comma = url.indexOf(QLatin1Char(','));
    if (comma < 0)
        return fail(localizedString("[BadDataUrl]"));
    if (url.size() - comma - 1 > kMaxDataUrlBytes)
        return fail(localizedFormat(
            QStringLiteral("[DataUrlTooLarge]"), {QString::number(kMaxDataUrlBytes / kMegabyte)}));
    // "image/png;base64": the extension is what lies between "/" and ";".
    const QString header = url.mid(5, comma - 5);
    const QString extension
        = safeFileName(header.section(QLatin1Char('/'), 1).section(QLatin1Char(';'), 0, 0)).toLower();
    if (extension.isEmpty() || !isPhotoExtension(extension))
        return fail(localizedString("[BadDataUrl]"));
    const auto decoded = QByteArray::fromBase64Encoding(
        QStringView(url).mid(comma + 1).toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.isEmpty())
        return fail(localizedString("[BadDataUrl]"));
    if (!makePrivateFolder(folder))
        return fail(QStringLiteral("cannot create %1").arg(folder));
    const QString name = uniqueFileNameAtPath(
        QStringLiteral("%1.%2").arg(Clock::instance().now().toMSecsSinceEpoch()).arg(extension), folder);
    const QString file = QDir(folder).filePath(name);
    QString error;
    if (!writeFileAtomically(file, decoded.decoded, &error))
        return fail(error);
    if (!keepOnlyPhoto(file).isEmpty())
        return fail(localizedString("[BadDataUrl]"));
    return file;
}

QString writeRawImage(const QImage &image, const QString &folder, QString *problem) {
    if (image.isNull()) {
        *problem = QStringLiteral("no image data");
        return {};
    }
    if (!makePrivateFolder(folder)) {
        *problem = QStringLiteral("cannot create %1").arg(folder);
        return {};
    }
    // JPEG has no transparency: a transparent screenshot would turn black without the white.
    QImage flat(image.size(), QImage::Format_RGB32);
    flat.fill(Qt::white);
    {
        QPainter painter(&flat);
        painter.drawImage(0, 0, image);
    }
    auto *random = QRandomGenerator::global();
    QString file;
    do {
        file = QDir(folder).filePath(
            QStringLiteral("%1_%2.jpg").arg(random->bounded(1, 1 << 30)).arg(random->bounded(1, 1 << 30)));
    } while (QFileInfo::exists(file));
    QString error;
    if (!writeFileAtomically(file, encodeJpeg(flat, kRawImageJpegQuality), &error)) {
        *problem = error;
        return {};
    }
    return file;
}

bool hasImageData(const QMimeData *mime) {
    for (const QString &type : imageDataTypes()) {
        if (mime->hasFormat(type))
            return true;
    }
    return false;
}

QImage imageFromMimeData(const QMimeData *mime) {
    if (mime->hasImage()) {
        const QImage image = qvariant_cast<QImage>(mime->imageData());
        if (!image.isNull())
            return image;
    }
    for (const QString &type : imageDataTypes()) {
        if (!mime->hasFormat(type) || type == QLatin1String("application/x-qt-image"))
            continue;
        const QImage image = QImage::fromData(mime->data(type));
        if (!image.isNull())
            return image;
    }
    return {};
}

DownloadOutcome downloadImage(const QString &url, const QString &destination,
    const std::function<bool()> &cancelled, const std::function<void(qint64)> &progress) {
    DownloadOutcome outcome;
    QFile file(destination);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        outcome.description = file.errorString();
        return outcome;
    }
    HttpRequest request;
    request.url = url;
    SendOptions options;
    options.stallSeconds = kDownloadStallSeconds;
    const qint64 started = Clock::instance().monotonicMs();
    bool timedOut = false;
    options.cancelled = [&] {
        timedOut = Clock::instance().secondsSince(started) > kDownloadTimeLimitSeconds;
        return timedOut || (cancelled && cancelled());
    };
    qint64 received = 0;
    bool tooLarge = false;
    options.bodySink = [&](const char *data, qint64 size) {
        received += size;
        if (received > kMaxDownloadBytes) {
            tooLarge = true;
            return false;
        }
        if (progress)
            progress(received);
        return file.write(data, size) == size;
    };
    const HttpResponse response = HttpTransport::shared().send(request, options);
    file.close();
    if (tooLarge)
        outcome.description = localizedFormat(
            QStringLiteral("[DownloadTooLarge]"), {QString::number(kMaxDownloadBytes / kMegabyte)});
    else if (timedOut)
        outcome.description = networkErrorDescription(NetError::TimedOut);
    else if (!response.hasResponse())
        outcome.description = networkErrorDescription(response.errorCode);
    else if (response.status < 200 || response.status > 299)
        outcome.description = httpReasonPhrase(response.status);
    else if (!keepOnlyPhoto(destination).isEmpty())
        outcome.description = localizedString("[DownloadNotImage]");
    else
        outcome.ok = true;
    if (!outcome.ok)
        QFile::remove(destination);
    return outcome;
}

} // namespace lf
