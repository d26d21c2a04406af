#include "output/ZTOutputFolder.h"

#include "output/ZTStreamWriter.h"
#include "text/ZTFileName.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int temporaryNameLetters = 10;
const char recordFolderName[] = ".ztroi-record";
// How many folders up noteInput() looks for the output folder among an input's parents.
constexpr int maxFolderDepth = 256;
// An entry: this first line, a line "INODE SIZE MTIME-SECONDS NANOSECONDS CTIME-SECONDS
// NANOSECONDS" of the file's status, then the input's bytes to the end.
const QByteArray entryHeader("ztroi-record 1\n");

bool sameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// A folder's identity, as the prefix of the names of the inputs in it.
QByteArray folderKey(const struct stat& folder)
{
    return QByteArray::number(qulonglong(folder.st_dev)) + ':'
        + QByteArray::number(qulonglong(folder.st_ino)) + '/';
}

// Whether @p name may be a level of a subfolder: a plain name, and none of ztroi's own hidden
// ones (the record, temporary files).
bool isSubfolderName(const QByteArray& name)
{
    return !name.isEmpty() && name != "." && name != ".." && !name.contains('\0')
        && !name.startsWith(".ztroi-");
}

// Creates the folder @p path and its missing parents, named by their bytes.
bool makePath(const QByteArray& path)
{
    for (int slash = path.indexOf('/', 1);; slash = path.indexOf('/', slash + 1)) {
        const QByteArray folder = slash < 0 ? path : path.left(slash);
        if (::mkdir(folder.constData(), 0777) != 0 && errno != EEXIST) {
            return false;
        }
        if (slash < 0) {
            return true;
        }
    }
}

// The change time counts too: nobody can set it, so a new file that took a freed inode number and
// was given the same size and modification time still differs in it.
QByteArray statusLine(const struct stat& file)
{
    return QByteArray::number(qulonglong(file.st_ino)) + ' '
        + QByteArray::number(qlonglong(file.st_size)) + ' '
        + QByteArray::number(qlonglong(file.st_mtim.tv_sec)) + ' '
        + QByteArray::number(qlonglong(file.st_mtim.tv_nsec)) + ' '
        + QByteArray::number(qlonglong(file.st_ctim.tv_sec)) + ' '
        + QByteArray::number(qlonglong(file.st_ctim.tv_nsec)) + '\n';
}

// Whether @p line has the form of statusLine()'s: six numbers.
bool isStatusLine(const QByteArray& line)
{
    const QList<QByteArray> numbers = line.chopped(1).split(' ');
    return line.endsWith('\n') && numbers.size() == 6
        && std::all_of(numbers.cbegin(), numbers.cend(), [](const QByteArray& number) {
               return !number.isEmpty() && std::all_of(number.cbegin(), number.cend(), [](char c) {
                   return c >= '0' && c <= '9';
               });
           });
}

// The entry @p name of the record folder @p record, at most ZTOutputFolder::maxEntryBytes of it;
// empty when there is none, or it is not a regular file. O_NONBLOCK: a FIFO put there must not
// hold the run.
QByteArray readEntry(int record, const QByteArray& name)
{
    const int fd
        = ::openat(record, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return QByteArray();
    }
    struct stat status;
    QByteArray entry;
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) {
        // One byte more than the longest entry tells a longer one apart.
        entry.resize(ZTOutputFolder::maxEntryBytes + 1);
        int filled = 0;
        while (filled < entry.size()) {
            const ssize_t got = ::read(fd, entry.data() + filled, size_t(entry.size() - filled));
            if (got <= 0) {
                break;
            }
            filled += int(got);
        }
        entry.truncate(filled > ZTOutputFolder::maxEntryBytes ? 0 : filled);
    }
    ::close(fd);
    return entry;
}

} // namespace

ZTOutputFolder::~ZTOutputFolder()
{
    for (const int fd : {m_recordFd, m_fd}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

bool ZTOutputFolder::open(const QString& path, const QStringList& inputs, QString* error)
{
    if (!open(path, error)) {
        return false;
    }
    for (const QString& input : inputs) {
        noteInput(input);
    }
    return true;
}

bool ZTOutputFolder::open(const QString& path, QString* error)
{
    const auto failed = [&](const QString& why) {
        // Only a refusal has a kind of its own: a missing parent or a file in the way of a
        // folder is a failure to write the folder, not a missing input.
        m_errorKind = errno == EACCES || errno == EPERM ? ZTError::Kind::Permission
                                                        : ZTError::Kind::WriteFailed;
        if (error) {
            *error = QStringLiteral("%1: %2").arg(path, why);
        }
        return false;
    };
    const QByteArray bytes = ZTFileName::toBytes(path);
    if (!makePath(bytes)) {
        return failed(QStringLiteral("cannot create the output folder (%1)")
                          .arg(ZTStreamWriter::errorText(errno)));
    }
    m_fd = ::open(bytes.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_fd < 0 || ::fstat(m_fd, &m_status) != 0) {
        return failed(QStringLiteral("cannot open the output folder (%1)")
                          .arg(ZTStreamWriter::errorText(errno)));
    }
    m_path = path;
    openRecord();
    return true;
}

bool ZTOutputFolder::openSubfolder(
    const ZTOutputFolder& root, const QString& relative, QString* error)
{
    m_root = &root.root();
    m_path = root.filePath(relative);
    const auto failed = [&](const QString& path, const QString& why) {
        m_errorKind = errno == EACCES || errno == EPERM ? ZTError::Kind::Permission
                                                        : ZTError::Kind::WriteFailed;
        if (error) {
            *error = path + QLatin1Char(' ') + why;
        }
        return false;
    };
    int folder = ::fcntl(root.m_fd, F_DUPFD_CLOEXEC, 0);
    QString reached = root.m_path;
    for (const QByteArray& level : ZTFileName::toBytes(relative).split('/')) {
        if (level.isEmpty() || folder < 0) {
            continue;
        }
        reached = reached.endsWith(QLatin1Char('/')) ? reached : reached + QLatin1Char('/');
        reached += ZTFileName::fromBytes(level);
        if (!isSubfolderName(level)) {
            ::close(folder);
            errno = EINVAL;
            return failed(reached, QStringLiteral("is not a folder name"));
        }
        const int made = ::mkdirat(folder, level.constData(), 0777) == 0 ? 0 : errno;
        // Never through a link: a link where a folder should be would lead the outputs elsewhere.
        const int next
            = ::openat(folder, level.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const int opened = next >= 0 ? 0 : errno;
        struct stat status;
        const bool isLink = next < 0
            && ::fstatat(folder, level.constData(), &status, AT_SYMLINK_NOFOLLOW) == 0
            && S_ISLNK(status.st_mode);
        ::close(folder);
        folder = next;
        if (next < 0) {
            errno = opened;
            if (isLink) {
                return failed(reached,
                    QStringLiteral("is a symbolic link; ztroi neither follows nor replaces it"));
            }
            if (opened == ENOTDIR) {
                return failed(
                    reached, QStringLiteral("is not a folder; ztroi does not replace it"));
            }
            errno = made != 0 && made != EEXIST ? made : opened;
            return failed(reached,
                QStringLiteral("cannot open the folder (%1)")
                    .arg(ZTStreamWriter::errorText(errno)));
        }
    }
    if (folder < 0 || ::fstat(folder, &m_status) != 0) {
        return failed(m_path,
            QStringLiteral("cannot open the folder (%1)").arg(ZTStreamWriter::errorText(errno)));
    }
    m_fd = folder;
    openRecord();
    return true;
}

// Created when missing; anything but a real folder under the name (a link, a file) is neither
// used nor replaced, and the run then recognises none of its earlier files.
void ZTOutputFolder::openRecord()
{
    ::mkdirat(m_fd, recordFolderName, 0777);
    m_recordFd = ::openat(m_fd, recordFolderName, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// Joined by hand: QDir takes a name that starts with ':' for a resource path and returns it alone.
QString ZTOutputFolder::filePath(const QString& name) const
{
    return m_path.endsWith(QLatin1Char('/')) ? m_path + name : m_path + QLatin1Char('/') + name;
}

bool ZTOutputFolder::isInput(const QByteArray& name, const struct stat* existing) const
{
    const ZTOutputFolder& inputs = root();
    return inputs.m_inputNames.contains(folderKey(m_status) + name)
        || (existing && existing->st_dev == inputs.m_status.st_dev
            && inputs.m_inputInodes.contains(existing->st_ino));
}

ZTOutputFolder::Writer ZTOutputFolder::writerOf(
    const QByteArray& name, const struct stat& existing, const QByteArray& input) const
{
    if (m_recordFd < 0) {
        return Writer::Unknown;
    }
    const QByteArray entry = readEntry(m_recordFd, name);
    const int statusEnd = entry.indexOf('\n', entryHeader.size());
    if (!entry.startsWith(entryHeader) || statusEnd < 0) {
        return Writer::Unknown;
    }
    const QByteArray status = entry.mid(entryHeader.size(), statusEnd + 1 - entryHeader.size());
    if (!isStatusLine(status)) {
        return Writer::Unknown;
    }
    if (status != statusLine(existing)) {
        return Writer::Changed;
    }
    return entry.mid(statusEnd + 1) == input ? Writer::ThisInput : Writer::OtherInput;
}

// Written beside, then renamed over the old entry: a reader sees the old entry or the new one,
// and a crash leaves at worst an entry that matches no file.
bool ZTOutputFolder::record(
    const QByteArray& name, const struct stat& placed, const QByteArray& input) const
{
    const QByteArray entry = entryHeader + statusLine(placed) + input;
    if (m_recordFd < 0 || entry.size() > maxEntryBytes) {
        return false;
    }
    const QByteArray temporary = temporaryName();
    const int fd = ::openat(m_recordFd, temporary.constData(),
        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        return false;
    }
    const bool written = ZTStreamWriter::writeAll(fd, entry) == 0;
    ::close(fd);
    if (written
        && ::renameat(m_recordFd, temporary.constData(), m_recordFd, name.constData()) == 0) {
        return true;
    }
    ::unlinkat(m_recordFd, temporary.constData(), 0);
    return false;
}

QByteArray ZTOutputFolder::inputIdentity(const QString& path, bool bundled)
{
    if (bundled) {
        return ZTFileName::toBytes(path);
    }
    QString absolute = path;
    if (!path.startsWith(QLatin1Char('/'))) {
        // The working folder as its bytes are, as the input's name is.
        char folder[PATH_MAX];
        absolute = ZTFileName::fromBytes(::getcwd(folder, sizeof folder) ? folder : "")
            + QLatin1Char('/') + path;
    }
    return ZTFileName::toBytes(QDir::cleanPath(absolute));
}

QByteArray ZTOutputFolder::temporaryName()
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    QByteArray name(".ztroi-");
    for (int i = 0; i < temporaryNameLetters; ++i) {
        name += letters[QRandomGenerator::global()->bounded(int(sizeof letters) - 1)];
    }
    return name + ".tmp";
}

// An input is known by its inode (which catches hard links and symbolic links to it) and, when
// it is named inside the folder or a folder beneath it, by its folder and name: one that does not
// exist yet must not be created by an output either, or whether it is read would depend on
// timing. An input that is neither named there, nor a link, nor has another name can be no entry
// of the folder: it is not remembered. Inputs come grouped by folder as a rule, so the last
// parent's answer is kept.
void ZTOutputFolder::noteInput(const QString& input)
{
    const QFileInfo info(input);
    const QString parent = info.path();
    if (parent != m_lastParent || m_lastParent.isNull()) {
        struct stat status;
        const QByteArray parentBytes = ZTFileName::toBytes(parent);
        m_lastParent = parent;
        m_lastParentKey
            = ::stat(parentBytes.constData(), &status) == 0 && isWithin(parentBytes, status)
            ? folderKey(status)
            : QByteArray();
    }
    const bool inside = !m_lastParentKey.isEmpty();
    if (inside) {
        m_inputNames.insert(m_lastParentKey + ZTFileName::toBytes(info.fileName()));
    }
    const QByteArray bytes = ZTFileName::toBytes(input);
    struct stat status;
    struct stat link;
    if (::stat(bytes.constData(), &status) == 0 && status.st_dev == m_status.st_dev
        && (inside || status.st_nlink > 1
            || (::lstat(bytes.constData(), &link) == 0 && S_ISLNK(link.st_mode)))) {
        m_inputInodes.insert(status.st_ino);
    }
}

// Whether the folder @p path, with the status @p status, is this folder or lies beneath it: its
// parents are followed through "..", as the system resolves them, up to the root.
bool ZTOutputFolder::isWithin(const QByteArray& path, struct stat status) const
{
    QByteArray at = path;
    for (int level = 0; level < maxFolderDepth; ++level) {
        if (sameFile(status, m_status)) {
            return true;
        }
        at += "/..";
        struct stat parent;
        if (::stat(at.constData(), &parent) != 0 || sameFile(parent, status)) {
            return false; // unreadable, or the root, whose parent is itself
        }
        status = parent;
    }
    return false;
}
