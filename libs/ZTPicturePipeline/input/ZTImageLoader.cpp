#include "input/ZTImageLoader.h"

#include "input/ZTMemoryBudget.h"
#include "text/ZTFileName.h"
#include "text/ZTNumberText.h"

#include <QBuffer>
#include <QColorSpace>
#include <QImageReader>
#include <QTransform>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Qt's image plugins report decoding trouble only as messages: a JPEG that ends early decodes
// "successfully" with a grey bottom and "Premature end of JPEG file"; libpng and libtiff warn
// about harmless things too. While a thread decodes, its messages are collected here instead
// of being printed, so the loader can refuse a damaged picture and keep the rest for whoever
// wants to see them. Other threads' messages pass through unchanged.
thread_local QStringList* t_decoderMessages = nullptr;
std::atomic<QtMessageHandler> g_nextHandler {nullptr};

void collectDecoderMessages(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (t_decoderMessages && type != QtFatalMsg) {
        t_decoderMessages->append(text);
        return;
    }
    if (const QtMessageHandler next = g_nextHandler.load()) {
        next(type, context, text);
    } else {
        std::fprintf(stderr, "%s\n", qPrintable(text));
    }
}

class DecoderMessages
{
public:
    explicit DecoderMessages(QStringList* messages)
    {
        static std::once_flag installed;
        std::call_once(
            installed, [] { g_nextHandler.store(qInstallMessageHandler(collectDecoderMessages)); });
        t_decoderMessages = messages;
    }
    ~DecoderMessages() { t_decoderMessages = nullptr; }
    Q_DISABLE_COPY(DecoderMessages)
};

// libtiff prints its warnings and errors on standard error unless told otherwise, and Qt's
// TIFF plugin does not tell it. Once the plugin (and with it libtiff) is loaded, its handlers
// are pointed at Qt's logging, where collectDecoderMessages() finds them.
void tiffMessage(const char* module, const char* format, va_list arguments)
{
    char text[512];
    std::vsnprintf(text, sizeof text, format, arguments);
    // Qt opens TIFF pictures under the dummy name "foo", which libtiff gives as the module.
    const bool named = module && std::strcmp(module, "foo") != 0;
    qWarning("%s%s%s", named ? module : "", named ? ": " : "", text);
}

void routeTiffMessages()
{
    static std::once_flag routed;
    std::call_once(routed, [] {
        using Handler = void (*)(const char*, const char*, va_list);
        using SetHandler = Handler (*)(Handler);
        for (const char* library : {"libtiff.so.6", "libtiff.so.5"}) {
            if (void* const tiff = ::dlopen(library, RTLD_NOW | RTLD_NOLOAD)) {
                for (const char* setter : {"TIFFSetWarningHandler", "TIFFSetErrorHandler"}) {
                    if (void* const set = ::dlsym(tiff, setter)) {
                        reinterpret_cast<SetHandler>(set)(tiffMessage);
                    }
                }
                ::dlclose(tiff);
                return;
            }
        }
    });
}

// libjpeg's words for data that is missing or wrong: the decoder then makes up pixels.
bool reportsDamage(const QStringList& messages)
{
    static const char* const damage[] = {
        "premature end", "corrupt jpeg data", "inconsistent progression", "invalid sos", "bogus"};
    for (const QString& message : messages) {
        for (const char* words : damage) {
            if (message.contains(QLatin1String(words), Qt::CaseInsensitive)) {
                return true;
            }
        }
    }
    return false;
}

ZTError::Kind readerErrorKind(const QImageReader& reader)
{
    switch (reader.error()) {
    case QImageReader::UnsupportedFormatError:
        return ZTError::Kind::UnsupportedFormat;
    case QImageReader::DeviceError:
        return ZTError::Kind::ReadFailed;
    default:
        return ZTError::Kind::Damaged;
    }
}

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
        return QStringLiteral("cannot decode the picture (%1)")
            .arg(reader.errorString().simplified());
    }
}

QString megabytes(qint64 bytes)
{
    return QString::number((bytes + (1 << 20) - 1) >> 20);
}

QString fileTooLarge()
{
    return QStringLiteral("the file is too large (more than %1 MB)")
        .arg(megabytes(ZTImageLoader::maxFileBytes));
}

QString overBudget(qint64 needed, qint64 budget)
{
    return QStringLiteral("needs about %1 MB, more than the memory budget of %2 MB")
        .arg(megabytes(needed), megabytes(budget));
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

// Reads the regular file @p fd of @p size bytes from its start into @p data; a file that became
// shorter gives what it still holds.
bool readAll(int fd, qint64 size, QByteArray* data)
{
    data->resize(int(size));
    qint64 done = 0;
    while (done < size) {
        const ssize_t got = ::pread(fd, data->data() + done, size_t(size - done), done);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return false;
        }
        if (got == 0) {
            break; // the file became shorter
        }
        done += got;
    }
    data->truncate(int(done));
    return true;
}

// A file descriptor that is closed when it goes out of scope.
class FileDescriptor
{
public:
    explicit FileDescriptor(int fd)
        : m_fd(fd)
    {}
    ~FileDescriptor()
    {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    Q_DISABLE_COPY(FileDescriptor)
    int get() const { return m_fd; }

private:
    int m_fd;
};

QString systemError(const char* what)
{
    return QStringLiteral("%1 (%2)").arg(
        QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno)));
}

} // namespace

QList<QByteArray> ZTImageLoader::defaultFormats()
{
    return {"jpeg", "png", "gif", "bmp", "webp", "tiff"};
}

QList<QByteArray> ZTImageLoader::allowableFormats()
{
    return defaultFormats() + QList<QByteArray> {"ico", "cur", "mng"};
}

ZTImageLoader::ZTImageLoader()
    : m_formats(defaultFormats())
{}

ZTImageLoader::~ZTImageLoader()
{
    releaseReservation();
}

void ZTImageLoader::setMaxPixels(qint64 pixels)
{
    m_maxPixels = std::clamp<qint64>(pixels, 1, largestMaxPixels);
}

void ZTImageLoader::setFormats(const QList<QByteArray>& formats)
{
    m_formats = formats;
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

void ZTImageLoader::setMemoryBudget(
    ZTMemoryBudget* budget, qint64 extraBytes, qint64 extraBytesPerPixel)
{
    setMemoryBudget(budget, [extraBytes, extraBytesPerPixel](const QSize& picture) {
        const QSize size = picture.expandedTo(QSize(0, 0));
        return extraBytes + qint64(size.width()) * size.height() * extraBytesPerPixel;
    });
}

void ZTImageLoader::setMemoryBudget(ZTMemoryBudget* budget, WorkBytes workBytes)
{
    releaseReservation();
    m_budget = budget;
    m_workBytes = std::move(workBytes);
}

qint64 ZTImageLoader::memoryEstimate(const ZTPictureHeader& header, qint64 fileBytes)
{
    const QSize size = header.size.expandedTo(QSize(0, 0));
    return qint64(size.width()) * size.height() * header.bytesPerPixel + header.metadataBytes
        + fileBytes;
}

// What a picture of @p header reserves: its decoding and the work that follows.
qint64 ZTImageLoader::reservation(const ZTPictureHeader& header, qint64 fileBytes) const
{
    return memoryEstimate(header, fileBytes) + (m_workBytes ? m_workBytes(header.size) : 0);
}

bool ZTImageLoader::fail(ZTError::Kind kind, const QString& error)
{
    m_errorKind = kind;
    releaseReservation();
    m_image = QImage();
    m_inputSize = QSize();
    m_format.clear();
    m_error = error;
    return false;
}

bool ZTImageLoader::reserve(qint64 bytes)
{
    if (!m_budget) {
        return true;
    }
    if (!m_budget->reserve(bytes)) {
        return false;
    }
    m_reserved += bytes;
    return true;
}

void ZTImageLoader::releaseReservation()
{
    if (m_budget && m_reserved > 0) {
        m_budget->release(m_reserved);
    }
    m_reserved = 0;
}

// The file's bytes are reserved before they are read. Once the header tells how much decoding
// takes, the rest is added if it fits at once; otherwise the bytes are dropped, the whole
// amount is waited for, and the file is read again, so that no memory is held while waiting.
bool ZTImageLoader::load(const QString& path)
{
    releaseReservation();
    m_messages.clear();
    const QByteArray name = ZTFileName::toBytes(path);
    struct stat info = {};
    if (name.isEmpty() || name.contains('\0')) {
        return fail(ZTError::Kind::NotFound,
            QStringLiteral("no such file (a file name cannot be empty or hold a NUL byte)"));
    }
    if (::stat(name.constData(), &info) != 0) {
        return fail(ZTError::kindOfErrno(errno, ZTError::Kind::ReadFailed),
            errno == ENOENT ? QStringLiteral("no such file") : systemError("cannot open the file"));
    }
    if (S_ISDIR(info.st_mode)) {
        return fail(ZTError::Kind::NotAFile, QStringLiteral("is a directory"));
    }
    // Checked before opening, and again on what was opened: opening a FIFO or a device may
    // block or have effects of its own.
    const auto notRegular
        = [] { return QStringLiteral("not a regular file (a FIFO, socket or device)"); };
    if (!S_ISREG(info.st_mode)) {
        return fail(ZTError::Kind::NotAFile, notRegular());
    }
    const FileDescriptor file(
        ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (file.get() < 0) {
        return fail(ZTError::kindOfErrno(errno, ZTError::Kind::ReadFailed),
            systemError("cannot open the file"));
    }
    if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return fail(ZTError::Kind::NotAFile, notRegular());
    }
    const qint64 size = info.st_size;
    if (size == 0) {
        return fail(ZTError::Kind::Damaged, QStringLiteral("empty file"));
    }
    if (size > maxFileBytes) {
        return fail(ZTError::Kind::TooLarge, fileTooLarge());
    }
    if (!reserve(size)) {
        return fail(
            ZTError::Kind::OverBudget, QStringLiteral("the file does not fit the memory budget"));
    }
    QByteArray data;
    if (!readAll(file.get(), size, &data)) {
        return fail(ZTError::Kind::ReadFailed, systemError("cannot read the file"));
    }
    ZTPictureHeader header = ZTPictureHeader::read(data);
    if (!check(header)) {
        return false;
    }
    const qint64 more = reservation(header, 0);
    if (m_budget && m_budget->tryReserve(more)) {
        m_reserved += more;
    } else if (m_budget) {
        data.clear();
        releaseReservation();
        const qint64 whole = reservation(header, size);
        if (!reserve(whole)) {
            return fail(ZTError::Kind::OverBudget, overBudget(whole, m_budget->bytes()));
        }
        if (!readAll(file.get(), size, &data)) {
            return fail(ZTError::Kind::ReadFailed, systemError("cannot read the file"));
        }
        const ZTPictureHeader again = ZTPictureHeader::read(data);
        if (!check(again) || reservation(again, data.size()) > whole) {
            return m_error.isEmpty() ? fail(ZTError::Kind::ReadFailed,
                       QStringLiteral("the file changed while it was read"))
                                     : false;
        }
        header = again;
    }
    ZTPictureHeader::dropUnusedParts(header, &data);
    return decode(data, header);
}

bool ZTImageLoader::load(QIODevice* device)
{
    releaseReservation();
    m_messages.clear();
    if (!device || !device->isReadable()) {
        return fail(ZTError::Kind::ReadFailed, QStringLiteral("cannot read the file"));
    }
    // In chunks: QIODevice::read(n) would allocate all n bytes first.
    QByteArray data;
    char chunk[65536];
    for (qint64 got;
         data.size() <= maxFileBytes && (got = device->read(chunk, sizeof chunk)) > 0;) {
        data.append(chunk, int(got));
    }
    return loadData(data);
}

bool ZTImageLoader::loadData(const QByteArray& encoded)
{
    releaseReservation();
    m_messages.clear();
    QByteArray data = encoded;
    if (data.isEmpty()) {
        return fail(ZTError::Kind::Damaged, QStringLiteral("empty file"));
    }
    if (data.size() > maxFileBytes) {
        return fail(ZTError::Kind::TooLarge, fileTooLarge());
    }
    const ZTPictureHeader header = ZTPictureHeader::read(data);
    if (!check(header)) {
        return false;
    }
    const qint64 whole = reservation(header, data.size());
    if (!reserve(whole)) {
        return fail(ZTError::Kind::OverBudget, overBudget(whole, m_budget->bytes()));
    }
    ZTPictureHeader::dropUnusedParts(header, &data);
    return decode(data, header);
}

// Everything that the header and the structure tell, before decoding.
bool ZTImageLoader::check(const ZTPictureHeader& header)
{
    m_error.clear();
    m_errorKind = ZTError::Kind::None;
    if (header.format.isEmpty()) {
        return fail(ZTError::Kind::UnsupportedFormat,
            QStringLiteral("not a picture in a format that can be read"));
    }
    if (!m_formats.contains(header.format)) {
        return fail(ZTError::Kind::UnsupportedFormat,
            QStringLiteral("%1 pictures are not read unless --input-formats allows them")
                .arg(QString::fromLatin1(header.format.toUpper())));
    }
    if (!header.damage.isEmpty()) {
        return fail(header.damageKind, header.damage);
    }
    if (header.size.isValid() && header.size.isEmpty()) {
        return fail(ZTError::Kind::Damaged,
            QStringLiteral("the picture has no pixels (%1)")
                .arg(ZTNumberText::sizeText(header.size)));
    }
    if (exceeds(header.size, m_maxPixels)) {
        return fail(ZTError::Kind::TooLarge,
            QStringLiteral("the picture is too large (%1, more than %2 pixels)")
                .arg(ZTNumberText::sizeText(header.size))
                .arg(m_maxPixels));
    }
    if (header.scans > maxJpegScans) {
        return fail(ZTError::Kind::TooLarge,
            QStringLiteral("too many scans (%1, more than %2)")
                .arg(header.scans)
                .arg(maxJpegScans));
    }
    return true;
}

// Only the decoder of the header's format is asked, so Qt neither loads nor tries any other
// plugin.
bool ZTImageLoader::decode(const QByteArray& data, const ZTPictureHeader& header)
{
    const QByteArray& format = header.format;
    QByteArray bytes = data; // shared, not copied: QBuffer wants a non-const array
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, format);
    reader.setAutoDetectImageFormat(false);
    // Header and data: every message of the decoder stays with this picture.
    const DecoderMessages collecting(&m_messages);
    // Turned upright below, keeping the colour space.
    reader.setAutoTransform(false);
    if (!reader.canRead()) {
        return fail(readerErrorKind(reader), readerError(reader));
    }
    if (format == "tiff") {
        routeTiffMessages();
    }

    // The header's size is that of the stored picture, before its EXIF orientation.
    const QSize stored = reader.size();
    const bool headerHasSize = stored.isValid();
    if (!headerHasSize && reader.supportsOption(QImageIOHandler::Size)) {
        return fail(ZTError::Kind::Damaged,
            QStringLiteral("no picture size in the header (damaged, truncated or without pixels)"));
    }
    if (headerHasSize && (stored.isEmpty() || exceeds(stored, m_maxPixels))) {
        return fail(stored.isEmpty() ? ZTError::Kind::Damaged : ZTError::Kind::TooLarge,
            QStringLiteral("the picture has no pixels or is too large (%1)")
                .arg(ZTNumberText::sizeText(stored)));
    }
    const bool turned = reader.transformation() & QImageIOHandler::TransformationRotate90;
    const QSize upright = turned ? stored.transposed() : stored;

    if (headerHasSize && m_fastDecodeNeed && format == "jpeg") {
        const QSize needed = m_fastDecodeNeed(upright);
        const QSize reduced = reducedDecodeSize(stored, turned ? needed.transposed() : needed);
        if (reduced.isValid()) {
            reader.setScaledSize(reduced);
        }
    }

    // Qt's BMP decoder writes RLE codes into the image it is given when that has the size and
    // format it wants, and leaves the pixels that the codes skip as it found them: index 0, the
    // background, rather than whatever the memory held.
    QImage picture;
    if (header.codesMaySkipPixels && headerHasSize) {
        picture = QImage(stored, QImage::Format_Indexed8);
        picture.fill(0);
    }
    if (!reader.read(&picture)) {
        return fail(readerErrorKind(reader), readerError(reader));
    }
    QImage decoded = uprightImage(std::move(picture), reader.transformation());
    if (decoded.isNull()) {
        return fail(readerErrorKind(reader), readerError(reader));
    }
    if (reportsDamage(m_messages)) {
        return fail(ZTError::Kind::Damaged, QStringLiteral("damaged or truncated picture data"));
    }
    // Checked once decoded as well: any decoder that makes more pixels than the header said.
    if (decoded.size().isEmpty() || exceeds(decoded.size(), m_maxPixels)) {
        return fail(decoded.size().isEmpty() ? ZTError::Kind::Damaged : ZTError::Kind::TooLarge,
            QStringLiteral("the picture has no pixels or is too large (%1)")
                .arg(ZTNumberText::sizeText(decoded.size())));
    }

    // Converted in place where Qt can, so a large picture is not held twice.
    m_image = std::move(decoded).convertToFormat(QImage::Format_ARGB32);
    if (m_image.isNull()) {
        return fail(
            ZTError::Kind::OutOfMemory, QStringLiteral("not enough memory to convert the picture"));
    }
    m_format = format;
    // A reduced decode is smaller than the picture; crops are still given in its full size.
    m_inputSize = reader.scaledSize().isValid() ? upright : m_image.size();
    return true;
}
