#include "ZTInputSource.h"

#include "ZTPictureFolder.h"
#include "output/ZTStreamWriter.h"
#include "text/ZTFileName.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

// The longest path that the system opens; a longer entry in a list is not a path.
constexpr int maxListEntry = PATH_MAX;
// Lists may hold blank lines, or empty entries between NULs, but not endlessly: --list0
// /dev/zero would otherwise be read for ever without a single name.
constexpr int maxEmptyEntriesInARow = 1 << 20;
// The spool is written and read in pieces of this size.
constexpr int spoolChunk = 1 << 16;

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Opens the list @p path for reading ("-": standard input); a folder is refused, as reading it
// would fail. False, with errno set, when it cannot be read.
bool openList(const QString& path, QFile* file)
{
    if (path == QLatin1String("-")) {
        return file->open(stdin, QIODevice::ReadOnly);
    }
    const int fd = ::open(ZTFileName::toBytes(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat status;
    if (::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode)) {
        ::close(fd);
        errno = EISDIR;
        return false;
    }
    return file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
}

// A file without a name in the system's temporary folder, gone when ztroi ends however it ends.
// Where the file system cannot make one without a name, a named one is unlinked at once.
int openUnnamedFile()
{
    const QByteArray folder = ZTFileName::toBytes(QDir::tempPath());
    const int fd = ::open(folder.constData(), O_RDWR | O_TMPFILE | O_CLOEXEC, 0600);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) {
        return fd;
    }
    QByteArray name = folder + "/ztroi-list-XXXXXX";
    const int named = ::mkostemp(name.data(), O_CLOEXEC);
    if (named >= 0) {
        ::unlink(name.constData());
    }
    return named;
}

} // namespace

ZTInputSource::ZTInputSource(const QStringList& pictures, const QList<ZTInputList>& lists,
    bool searchFolders, const QList<QByteArray>& formats)
    : m_pictures(pictures)
    , m_lists(lists)
    , m_searchFolders(searchFolders)
    , m_formats(formats)
{}

ZTInputSource::~ZTInputSource()
{
    if (m_spool >= 0) {
        ::close(m_spool);
    }
}

bool ZTInputSource::prepare(const Visitor& visit, QString* error)
{
    m_count = 0;
    m_problems.clear();
    m_problemCount = 0;
    // Without the search a folder stays an input, which then fails as one.
    bool anyFolder = false;
    for (const QString& picture : m_pictures) {
        struct stat status;
        anyFolder = anyFolder
            || (m_searchFolders && ::stat(ZTFileName::toBytes(picture).constData(), &status) == 0
                && S_ISDIR(status.st_mode));
    }
    // A folder may hold any number of pictures: they go through the spool, as lists do, and
    // so do the pictures beside it, to keep the order given.
    if (anyFolder) {
        if (!openSpool(error) || !spoolPictures(visit, error)) {
            return false;
        }
        m_pictures.clear();
    } else {
        m_count = m_pictures.size();
        for (const QString& picture : m_pictures) {
            if (visit && !visit(picture, QString())) {
                return false;
            }
        }
    }
    if (m_lists.isEmpty() && !anyFolder) {
        rewind();
        return true;
    }
    if (m_spool < 0 && !openSpool(error)) {
        return false;
    }
    for (const ZTInputList& list : m_lists) {
        if (!readList(list, visit, error)) {
            return false;
        }
    }
    if (!flushSpool(error)) {
        return false;
    }
    rewind();
    return true;
}

// The command line's pictures into the spool, each folder as the pictures beneath it.
bool ZTInputSource::spoolPictures(const Visitor& visit, QString* error)
{
    for (const QString& picture : std::as_const(m_pictures)) {
        struct stat status;
        if (::stat(ZTFileName::toBytes(picture).constData(), &status) == 0
            && S_ISDIR(status.st_mode)) {
            if (!spoolFolder(picture, visit, error)) {
                return false;
            }
            continue;
        }
        if (!appendToSpool(ZTFileName::toBytes(picture), error)) {
            return false;
        }
        ++m_count;
        if (visit && !visit(picture, QString())) {
            return false;
        }
    }
    return true;
}

bool ZTInputSource::spoolFolder(const QString& folder, const Visitor& visit, QString* error)
{
    const qint64 before = m_count;
    QString spoolError;
    bool visitorStopped = false;
    const auto take = [&](const QString& path, const QString& stem) {
        if (!appendToSpool(ZTFileName::toBytes(path), &spoolError, ZTFileName::toBytes(stem))) {
            return false;
        }
        ++m_count;
        visitorStopped = visit && !visit(path, stem);
        return !visitorStopped;
    };
    QStringList problems;
    const bool walked = ZTPictureFolder::walk(folder, m_formats, take, &problems, error);
    addProblems(problems);
    if (!walked) {
        if (!spoolError.isEmpty()) {
            *error = spoolError;
        }
        return false;
    }
    if (m_count == before) {
        addProblems({QStringLiteral("%1: no pictures in the folder").arg(folder)});
    }
    return true;
}

void ZTInputSource::addProblems(const QStringList& problems)
{
    for (const QString& problem : problems) {
        if (m_problems.size() < maxProblems) {
            m_problems.append(problem);
        }
        ++m_problemCount;
    }
}

bool ZTInputSource::openSpool(QString* error)
{
    m_spool = openUnnamedFile();
    if (m_spool < 0) {
        *error = QStringLiteral("cannot create a temporary file for the lists in %1 (%2)")
                     .arg(QDir::tempPath(), systemError(errno));
        return false;
    }
    return true;
}

bool ZTInputSource::readList(const ZTInputList& list, const Visitor& visit, QString* error)
{
    const QString listName = QStringLiteral("%1 %2").arg(
        QLatin1String(list.separator == '\n' ? "--list" : "--list0"), list.path);
    QFile file;
    if (!openList(list.path, &file)) {
        *error = QStringLiteral("%1: cannot read the list (%2)").arg(listName, systemError(errno));
        return false;
    }
    QString listError;
    bool visitorStopped = false;
    const auto take = [&](const QByteArray& entry) {
        if (!appendToSpool(entry, &listError)) {
            return false;
        }
        ++m_count;
        visitorStopped = visit && !visit(ZTFileName::fromBytes(entry), QString());
        return !visitorStopped;
    };
    if (!readList(&file, list.separator, take, &listError)) {
        if (!visitorStopped) {
            *error = listName + QStringLiteral(": ") + listError;
        }
        return false;
    }
    return true;
}

bool ZTInputSource::appendToSpool(const QByteArray& entry, QString* error, const QByteArray& stem)
{
    m_buffer.append(entry).append('\0').append(stem).append('\0');
    return m_buffer.size() < spoolChunk || flushSpool(error);
}

bool ZTInputSource::flushSpool(QString* error)
{
    const int failure = ZTStreamWriter::writeAll(m_spool, m_buffer);
    m_buffer.clear();
    if (failure != 0) {
        *error = QStringLiteral("cannot write the temporary copy of the lists in %1 (%2)")
                     .arg(QDir::tempPath(), ZTStreamWriter::errorText(failure));
        return false;
    }
    return true;
}

void ZTInputSource::rewind()
{
    m_nextPicture = 0;
    m_buffer.clear();
    m_bufferAt = 0;
    m_error.clear();
    m_spoolEnded = m_spool < 0 || ::lseek(m_spool, 0, SEEK_SET) != 0;
}

bool ZTInputSource::next(QString* input, QString* outputStem)
{
    if (m_nextPicture < m_pictures.size()) {
        *input = m_pictures.at(m_nextPicture++);
        if (outputStem) {
            outputStem->clear();
        }
        return true;
    }
    for (;;) {
        const int pathEnd = m_buffer.indexOf('\0', m_bufferAt);
        const int stemEnd = pathEnd < 0 ? -1 : m_buffer.indexOf('\0', pathEnd + 1);
        if (stemEnd >= 0) {
            *input = ZTFileName::fromBytes(m_buffer.mid(m_bufferAt, pathEnd - m_bufferAt));
            if (outputStem) {
                *outputStem
                    = ZTFileName::fromBytes(m_buffer.mid(pathEnd + 1, stemEnd - pathEnd - 1));
            }
            m_bufferAt = stemEnd + 1;
            return true;
        }
        if (m_spoolEnded || !fillBuffer()) {
            return false;
        }
    }
}

// Keeps the unread rest of the buffer and appends the next piece of the spool.
bool ZTInputSource::fillBuffer()
{
    m_buffer.remove(0, m_bufferAt);
    m_bufferAt = 0;
    const int kept = m_buffer.size();
    m_buffer.resize(kept + spoolChunk);
    ssize_t got;
    do {
        got = ::read(m_spool, m_buffer.data() + kept, spoolChunk);
    } while (got < 0 && errno == EINTR);
    m_buffer.resize(kept + int(std::max<ssize_t>(got, 0)));
    if (got < 0) {
        m_error = QStringLiteral("cannot read the temporary copy of the lists (%1)")
                      .arg(systemError(errno));
    }
    m_spoolEnded = got <= 0;
    return got > 0;
}

// Read in chunks, so that an entry longer than a path is found without reading further.
bool ZTInputSource::readList(QIODevice* device, char separator,
    const std::function<bool(const QByteArray& entry)>& take, QString* error)
{
    QByteArray entry;
    int emptyInARow = 0;
    const auto finish = [&] {
        if (separator == '\n' && entry.endsWith('\r')) {
            entry.chop(1);
        }
        const bool blank = separator == '\n' ? entry.trimmed().isEmpty() : entry.isEmpty();
        emptyInARow = blank ? emptyInARow + 1 : 0;
        const bool taken = blank || take(entry);
        entry.clear();
        return taken;
    };
    char chunk[65536];
    qint64 got;
    while ((got = device->read(chunk, sizeof chunk)) > 0) {
        for (const char* at = chunk; at < chunk + got;) {
            const char* end
                = static_cast<const char*>(std::memchr(at, separator, size_t(chunk + got - at)));
            entry.append(at, int((end ? end : chunk + got) - at));
            if (entry.size() > maxListEntry) {
                *error = QStringLiteral("an entry is longer than a path can be (%1 bytes)")
                             .arg(maxListEntry);
                return false;
            }
            // A file name cannot hold one: such a list is not a list of names.
            if (entry.contains('\0')) {
                *error = QStringLiteral("an entry holds a NUL byte, which no file name can "
                                        "(--list0 reads NUL-separated lists)");
                return false;
            }
            if (!end) {
                break;
            }
            if (!finish()) {
                return false;
            }
            if (emptyInARow > maxEmptyEntriesInARow) {
                *error = QStringLiteral("more than %1 empty entries in a row: not a list of names")
                             .arg(maxEmptyEntriesInARow);
                return false;
            }
            at = end + 1;
        }
    }
    if (got < 0) {
        *error = QStringLiteral("cannot read the list (%1)").arg(device->errorString());
        return false;
    }
    return finish();
}
