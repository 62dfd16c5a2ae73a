// A Qt image plugin, built into the program, so the plugin class is linked in statically.
#define QT_STATICPLUGIN

#include "share/HeifImage.h"

#include <QBuffer>
#include <QColorSpace>
#include <QImageIOHandler>
#include <QImageIOPlugin>
#include <QtPlugin>

#include <libheif/heif.h>

#include <memory>

namespace lf {

namespace {

// Enough of a file's start for its brands.
constexpr qint64 kSniffBytes = 256;

struct ContextFree {
    void operator()(heif_context *c) const { heif_context_free(c); }
};
struct HandleFree {
    void operator()(heif_image_handle *h) const { heif_image_handle_release(h); }
};
using Context = std::unique_ptr<heif_context, ContextFree>;
using Handle = std::unique_ptr<heif_image_handle, HandleFree>;

QString errorText(const heif_error &e) {
    return QString::fromUtf8(e.message ? e.message : "unknown error");
}

quint32 be32(const uchar *p) {
    return quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | p[3];
}

// The child boxes of a box's payload: calls `visit(type, payload)` for each whole box.
template<typename Visit> void forEachBox(QByteArrayView bytes, Visit visit) {
    const auto *p = reinterpret_cast<const uchar *>(bytes.data());
    qsizetype at = 0;
    while (at + 8 <= bytes.size()) {
        quint64 size = be32(p + at);
        qsizetype header = 8;
        if (size == 1) {
            if (at + 16 > bytes.size())
                return;
            size = quint64(be32(p + at + 8)) << 32 | be32(p + at + 12);
            header = 16;
        } else if (size == 0) {
            size = quint64(bytes.size() - at);
        }
        if (size < quint64(header) || size > quint64(bytes.size() - at))
            return;
        const QByteArrayView type = bytes.sliced(at + 4, 4);
        if (!visit(type, bytes.sliced(at + header, qsizetype(size) - header)))
            return;
        at += qsizetype(size);
    }
}

// Whether the file turns or mirrors its images itself (an irot or imir property). The boxes are
// walked, not libheif asked: its interface applies them but does not say whether there were any.
bool hasOwnTurn(QByteArrayView bytes) {
    bool found = false;
    const auto inside = [](QByteArrayView box, const char *type, auto then) {
        forEachBox(box, [&](QByteArrayView t, QByteArrayView payload) {
            if (t != QByteArrayView(type, 4))
                return true;
            then(payload);
            return false;
        });
    };
    inside(bytes, "meta", [&](QByteArrayView meta) {
        if (meta.size() < 4)
            return;
        inside(meta.sliced(4), "iprp", [&](QByteArrayView iprp) {
            inside(iprp, "ipco", [&](QByteArrayView ipco) {
                forEachBox(ipco, [&](QByteArrayView t, QByteArrayView) {
                    found = t == QByteArrayView("irot", 4) || t == QByteArrayView("imir", 4);
                    return !found;
                });
            });
        });
    });
    return found;
}

// The Exif orientation in a TIFF-structured Exif block (1 when absent or odd).
int exifOrientation(const QByteArray &tiff) {
    if (tiff.size() < 8)
        return 1;
    const auto *p = reinterpret_cast<const uchar *>(tiff.constData());
    const bool little = p[0] == 'I' && p[1] == 'I';
    if (!little && !(p[0] == 'M' && p[1] == 'M'))
        return 1;
    const auto u16 = [&](qsizetype at) {
        return little ? quint32(p[at] | p[at + 1] << 8) : quint32(p[at] << 8 | p[at + 1]);
    };
    const auto u32 = [&](qsizetype at) {
        return little ? (u16(at) | u16(at + 2) << 16) : (u16(at) << 16 | u16(at + 2));
    };
    const quint32 ifd = u32(4);
    if (ifd + 2 > quint32(tiff.size()))
        return 1;
    const quint32 count = u16(ifd);
    for (quint32 i = 0; i < count; ++i) {
        const quint32 entry = ifd + 2 + 12 * i;
        if (entry + 12 > quint32(tiff.size()))
            break;
        if (u16(entry) == 0x0112) {
            const int value = int(u16(entry + 8));
            return value >= 1 && value <= 8 ? value : 1;
        }
    }
    return 1;
}

// The Exif item of the image: a 4-byte offset to the TIFF header, then the data.
QByteArray exifOf(heif_image_handle *handle) {
    heif_item_id id = 0;
    if (heif_image_handle_get_list_of_metadata_block_IDs(handle, "Exif", &id, 1) < 1)
        return {};
    const size_t size = heif_image_handle_get_metadata_size(handle, id);
    if (size < 4 || size > 16 * 1024 * 1024)
        return {};
    QByteArray block(qsizetype(size), Qt::Uninitialized);
    if (heif_image_handle_get_metadata(handle, id, block.data()).code != heif_error_Ok)
        return {};
    const quint32 offset = be32(reinterpret_cast<const uchar *>(block.constData()));
    if (quint64(offset) + 4 >= size)
        return {};
    return block.mid(4 + qsizetype(offset));
}

struct Opened {
    Context context;
    Handle handle;
    QString error;
};

Opened open(QByteArrayView bytes) {
    Opened o;
    o.context.reset(heif_context_alloc());
    heif_error e = heif_context_read_from_memory_without_copy(
        o.context.get(), bytes.data(), size_t(bytes.size()), nullptr);
    if (e.code != heif_error_Ok) {
        o.error = errorText(e);
        return o;
    }
    heif_image_handle *handle = nullptr;
    e = heif_context_get_primary_image_handle(o.context.get(), &handle);
    if (e.code != heif_error_Ok) {
        o.error = errorText(e);
        return o;
    }
    o.handle.reset(handle);
    return o;
}

QString tooLarge(const QSize &size) {
    return QStringLiteral("the image is %1 x %2 pixels, more than %3 megapixels")
        .arg(size.width())
        .arg(size.height())
        .arg(kMaxPhotoPixels / 1'000'000);
}

QColorSpace colorSpaceOf(heif_image_handle *handle) {
    switch (heif_image_handle_get_color_profile_type(handle)) {
    case heif_color_profile_type_prof:
    case heif_color_profile_type_rICC: {
        QByteArray icc(qsizetype(heif_image_handle_get_raw_color_profile_size(handle)), Qt::Uninitialized);
        if (icc.isEmpty()
            || heif_image_handle_get_raw_color_profile(handle, icc.data()).code != heif_error_Ok)
            return {};
        return QColorSpace::fromIccProfile(icc);
    }
    case heif_color_profile_type_nclx: {
        heif_color_profile_nclx *nclx = nullptr;
        if (heif_image_handle_get_nclx_color_profile(handle, &nclx).code != heif_error_Ok)
            return {};
        // Phones shoot in Display P3; other primaries are taken as sRGB.
        const bool p3 = nclx->color_primaries == heif_color_primaries_SMPTE_EG_432_1;
        heif_nclx_color_profile_free(nclx);
        return p3 ? QColorSpace(QColorSpace::DisplayP3) : QColorSpace();
    }
    default:
        return {};
    }
}

} // namespace

class HeifHandler : public QImageIOHandler {
public:
    bool canRead() const override {
        const QByteArray format = heifFormatOf(device() ? device()->peek(kSniffBytes) : QByteArray());
        if (format.isEmpty())
            return false;
        const_cast<HeifHandler *>(this)->setFormat(format);
        return true;
    }

    bool read(QImage *image) override {
        *image = decodeHeif(all());
        return !image->isNull();
    }

    QVariant option(ImageOption option) const override {
        if (option != Size && option != ImageTransformation)
            return {};
        const HeifInfo info = readHeifInfo(const_cast<HeifHandler *>(this)->all());
        if (!info.error.isEmpty())
            return {};
        if (option == Size)
            return info.size;
        return transformationOf(info.orientation);
    }

    bool supportsOption(ImageOption option) const override {
        return option == Size || option == ImageTransformation;
    }

private:
    static int transformationOf(int orientation) {
        switch (orientation) {
        case 2:
            return TransformationMirror;
        case 3:
            return TransformationRotate180;
        case 4:
            return TransformationFlip;
        case 5:
            return TransformationFlipAndRotate90;
        case 6:
            return TransformationRotate90;
        case 7:
            return TransformationMirrorAndRotate90;
        case 8:
            return TransformationRotate270;
        default:
            return TransformationNone;
        }
    }

    // The whole file: a buffer's own bytes when the device is one (no copy of a mapped photo),
    // else read once.
    const QByteArray &all() {
        if (!m_loaded) {
            m_loaded = true;
            if (auto *buffer = qobject_cast<QBuffer *>(device()); buffer && buffer->pos() == 0)
                m_bytes = buffer->data();
            else if (device())
                m_bytes = device()->readAll();
        }
        return m_bytes;
    }

    bool m_loaded = false;
    QByteArray m_bytes;
};

QByteArray heifFormatOf(QByteArrayView head) {
    if (head.size() < 12 || head.sliced(4, 4) != QByteArrayView("ftyp", 4))
        return {};
    const auto *p = reinterpret_cast<const uint8_t *>(head.data());
    const int n = int(qMin<qsizetype>(head.size(), 1 << 16));
    // The main brand, or a compatible one: some cameras lead with the generic "mif1".
    const heif_brand2 main = heif_read_main_brand(p, n);
    const auto is = [&](const char *brand) {
        return main == heif_fourcc_to_brand(brand) || heif_has_compatible_brand(p, n, brand) == 1;
    };
    if (is("heic") || is("heix"))
        return "heif";
    if (is("avif"))
        return "avif";
    return {};
}

HeifInfo readHeifInfo(QByteArrayView bytes) {
    HeifInfo info;
    const Opened o = open(bytes);
    if (!o.handle) {
        info.error = o.error;
        return info;
    }
    info.size
        = QSize(heif_image_handle_get_width(o.handle.get()), heif_image_handle_get_height(o.handle.get()));
    info.exif = exifOf(o.handle.get());
    if (!hasOwnTurn(bytes))
        info.orientation = exifOrientation(info.exif);
    return info;
}

QImage decodeHeif(QByteArrayView bytes, QString *error) {
    const Opened o = open(bytes);
    if (!o.handle) {
        if (error)
            *error = o.error;
        return {};
    }
    heif_image_handle *handle = o.handle.get();
    const QSize size(heif_image_handle_get_width(handle), heif_image_handle_get_height(handle));
    if (size.isEmpty() || qint64(size.width()) * size.height() > kMaxPhotoPixels) {
        if (error)
            *error = tooLarge(size);
        return {};
    }
    const bool alpha = heif_image_handle_has_alpha_channel(handle);
    std::unique_ptr<heif_decoding_options, void (*)(heif_decoding_options *)> options(
        heif_decoding_options_alloc(), heif_decoding_options_free);
    options->convert_hdr_to_8bit = 1;
    options->strict_decoding = 1; // a damaged photo is an error, not a half-grey picture
    heif_image *decoded = nullptr;
    const heif_error e = heif_decode_image(handle, &decoded, heif_colorspace_RGB,
        alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, options.get());
    if (e.code != heif_error_Ok) {
        if (error)
            *error = errorText(e);
        return {};
    }
    int stride = 0;
    const uint8_t *plane = heif_image_get_plane_readonly(decoded, heif_channel_interleaved, &stride);
    const int w = heif_image_get_width(decoded, heif_channel_interleaved);
    const int h = heif_image_get_height(decoded, heif_channel_interleaved);
    if (!plane || w <= 0 || h <= 0) {
        heif_image_release(decoded);
        if (error)
            *error = QStringLiteral("no picture in the file");
        return {};
    }
    // The decoder's buffer becomes the image's: a large photo is never held twice.
    QImage image(
        plane, w, h, stride, alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888,
        [](void *img) { heif_image_release(static_cast<heif_image *>(img)); }, decoded);
    image.setColorSpace(colorSpaceOf(handle));
    return image;
}

} // namespace lf

// Registered with Qt at start-up, before any image reader is made.
class LanternfishHeifPlugin : public QImageIOPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QImageIOHandlerFactoryInterface_iid FILE "HeifImage.json")

public:
    Capabilities capabilities(QIODevice *device, const QByteArray &format) const override {
        const bool named = format == "heif" || format == "heic" || format == "avif";
        if (!format.isEmpty() && !named)
            return {};
        if (!device)
            return named ? CanRead : Capabilities();
        if (!device->isOpen())
            return {};
        // Named or not, only content libheif decodes.
        return lf::heifFormatOf(device->peek(lf::kSniffBytes)).isEmpty() ? Capabilities()
                                                                         : Capabilities(CanRead);
    }

    QImageIOHandler *create(QIODevice *device, const QByteArray &format) const override {
        auto *handler = new lf::HeifHandler;
        handler->setDevice(device);
        handler->setFormat(format == "avif" ? QByteArray("avif") : QByteArray("heif"));
        return handler;
    }
};

#include "HeifImage.moc"

Q_IMPORT_PLUGIN(LanternfishHeifPlugin)
