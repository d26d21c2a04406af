#include "ZTImageLoader.h"

#include <QColorSpace>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QTransform>
#include <QtEndian>

#include <atomic>
#include <cstdio>
#include <mutex>

namespace {

// Qt's image plugins report recoverable decoding trouble only as warnings: a JPEG that ends
// early decodes "successfully" with a grey bottom and "Premature end of JPEG file". While a
// thread decodes, its warnings are collected here instead of being printed, so the loader can
// refuse such a picture. Other threads' messages pass through unchanged.
thread_local QStringList* t_decoderWarnings = nullptr;
std::atomic<QtMessageHandler> g_nextHandler {nullptr};

void collectDecoderWarnings(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (t_decoderWarnings && type == QtWarningMsg) {
        t_decoderWarnings->append(text);
        return;
    }
    if (const QtMessageHandler next = g_nextHandler.load()) {
        next(type, context, text);
    } else {
        std::fprintf(stderr, "%s\n", qPrintable(text));
    }
}

class DecoderWarnings
{
public:
    DecoderWarnings()
    {
        static std::once_flag installed;
        std::call_once(
            installed, [] { g_nextHandler.store(qInstallMessageHandler(collectDecoderWarnings)); });
        t_decoderWarnings = &m_warnings;
    }
    ~DecoderWarnings() { t_decoderWarnings = nullptr; }
    Q_DISABLE_COPY(DecoderWarnings)

    bool endedEarly() const
    {
        for (const QString& warning : m_warnings) {
            if (warning.contains(QLatin1String("premature end"), Qt::CaseInsensitive)) {
                return true;
            }
        }
        return false;
    }

private:
    QStringList m_warnings;
};

QString readerError(const QImageReader& reader)
{
    switch (reader.error()) {
    case QImageReader::UnsupportedFormatError:
        return QStringLiteral("not a picture in a format that can be read");
    case QImageReader::InvalidDataError:
        return QStringLiteral("damaged or truncated picture data");
    case QImageReader::DeviceError:
        return QStringLiteral("cannot read the file");
    default:
        return QStringLiteral("cannot decode the picture (%1)").arg(reader.errorString());
    }
}

QString sizeText(const QSize& size)
{
    return QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
}

// The logical screen of a GIF, which its frames are decoded into; invalid for other data. For a
// screen 32768 or more pixels wide, Qt's reader reports the first frame's width instead, which a
// GIF may declare far smaller. The screen's width and height follow the signature, little-endian.
QSize gifScreenSize(QIODevice* device)
{
    constexpr int signatureBytes = 6;
    const QByteArray head = device ? device->peek(signatureBytes + 4) : QByteArray();
    if (head.size() < signatureBytes + 4
        || (!head.startsWith("GIF87a") && !head.startsWith("GIF89a"))) {
        return QSize();
    }
    const uchar* const sizes = reinterpret_cast<const uchar*>(head.constData()) + signatureBytes;
    return QSize(qFromLittleEndian<quint16>(sizes), qFromLittleEndian<quint16>(sizes + 2));
}

bool exceeds(const QSize& size, qint64 maxPixels)
{
    return qint64(size.width()) * size.height() > maxPixels;
}

// The largest DCT reduction (1/8, 1/4, 1/2) of @p stored that still covers @p needed.
QSize reducedDecodeSize(const QSize& stored, const QSize& needed)
{
    for (const int factor : {8, 4, 2}) {
        const QSize reduced(stored.width() / factor, stored.height() / factor);
        if (reduced.width() >= std::max(1, needed.width())
            && reduced.height() >= std::max(1, needed.height())) {
            return reduced;
        }
    }
    return QSize();
}

// @p image turned by its EXIF @p transformation, as QImageReader's automatic transform turns it,
// but with its colour space kept: Qt 5 drops it when it turns a picture a quarter.
QImage uprightImage(QImage image, QImageIOHandler::Transformations transformation)
{
    if (image.isNull() || transformation == QImageIOHandler::TransformationNone) {
        return image;
    }
    const QColorSpace colorSpace = image.colorSpace();
    if (transformation == QImageIOHandler::TransformationRotate270) {
        image = image.transformed(QTransform().rotate(270));
    } else {
        image = std::move(image).mirrored(transformation & QImageIOHandler::TransformationMirror,
            transformation & QImageIOHandler::TransformationFlip);
        if (transformation & QImageIOHandler::TransformationRotate90) {
            image = image.transformed(QTransform().rotate(90));
        }
    }
    image.setColorSpace(colorSpace);
    return image;
}

} // namespace

ZTImageLoader::ZTImageLoader() = default;

void ZTImageLoader::setMaxPixels(qint64 pixels)
{
    m_maxPixels = std::max<qint64>(1, pixels);
}

void ZTImageLoader::setFastDecodeSize(const QSize& analysisSize)
{
    if (!analysisSize.isValid()) {
        setFastDecodeNeed({});
        return;
    }
    setFastDecodeNeed([analysisSize](const QSize& upright) {
        return upright.scaled(analysisSize, Qt::KeepAspectRatio);
    });
}

void ZTImageLoader::setFastDecodeNeed(NeededSize needed)
{
    m_fastDecodeNeed = std::move(needed);
}

bool ZTImageLoader::fail(const QString& error)
{
    m_image = QImage();
    m_inputSize = QSize();
    m_format.clear();
    m_error = error;
    return false;
}

bool ZTImageLoader::load(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists()) {
        return fail(QStringLiteral("no such file"));
    }
    if (info.isDir()) {
        return fail(QStringLiteral("is a directory"));
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return fail(QStringLiteral("cannot open the file (%1)").arg(file.errorString()));
    }
    if (file.size() == 0) {
        return fail(QStringLiteral("empty file"));
    }
    return load(&file);
}

bool ZTImageLoader::load(QIODevice* device)
{
    if (!device || !device->isReadable()) {
        return fail(QStringLiteral("cannot read the file"));
    }
    QImageReader reader(device);
    return read(reader);
}

bool ZTImageLoader::read(QImageReader& reader)
{
    m_error.clear();
    // Peeked before the reader reads anything, while the device is at the file's start.
    const QSize gifScreen = gifScreenSize(reader.device());
    // Header and data: every warning of the decoder stays with this picture.
    const DecoderWarnings warnings;
    // Turned upright below, keeping the colour space.
    reader.setAutoTransform(false);
    if (!reader.canRead()) {
        return fail(readerError(reader));
    }

    // The header's size is that of the stored picture, before its EXIF orientation.
    const QSize stored = reader.size();
    const bool headerHasSize = stored.isValid();
    if (!headerHasSize && reader.supportsOption(QImageIOHandler::Size)) {
        return fail(
            QStringLiteral("no picture size in the header (damaged, truncated or without pixels)"));
    }
    if (headerHasSize) {
        if (stored.isEmpty()) {
            return fail(QStringLiteral("the picture has no pixels (%1)").arg(sizeText(stored)));
        }
        // A GIF is decoded into its screen, which the reader may report smaller.
        const QSize decodedSize = gifScreen.isValid() ? gifScreen.expandedTo(stored) : stored;
        if (exceeds(decodedSize, m_maxPixels)) {
            return fail(QStringLiteral("the picture is too large (%1, more than %2 pixels)")
                            .arg(sizeText(decodedSize))
                            .arg(m_maxPixels));
        }
    }
    const bool turned = reader.transformation() & QImageIOHandler::TransformationRotate90;
    const QSize upright = turned ? stored.transposed() : stored;

    if (headerHasSize && m_fastDecodeNeed && reader.format() == "jpeg"
        && reader.supportsOption(QImageIOHandler::ScaledSize)) {
        const QSize needed = m_fastDecodeNeed(upright);
        const QSize reduced = reducedDecodeSize(stored, turned ? needed.transposed() : needed);
        if (reduced.isValid()) {
            reader.setScaledSize(reduced);
        }
    }

    QImage decoded = uprightImage(reader.read(), reader.transformation());
    if (decoded.isNull()) {
        return fail(readerError(reader));
    }
    if (warnings.endedEarly()) {
        return fail(QStringLiteral("truncated picture data"));
    }
    // Checked once decoded as well: formats without a size in their header, and any decoder
    // that makes more pixels than the header said.
    if (decoded.size().isEmpty() || exceeds(decoded.size(), m_maxPixels)) {
        return fail(QStringLiteral("the picture has no pixels or is too large (%1)")
                        .arg(sizeText(decoded.size())));
    }

    // Converted in place where Qt can, so a large picture is not held twice.
    m_image = std::move(decoded).convertToFormat(QImage::Format_ARGB32);
    if (m_image.isNull()) {
        return fail(QStringLiteral("not enough memory to convert the picture"));
    }
    m_format = reader.format();
    // A reduced decode is smaller than the picture; crops are still given in its full size.
    m_inputSize = reader.scaledSize().isValid() ? upright : m_image.size();
    return true;
}
