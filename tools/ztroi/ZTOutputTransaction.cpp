#include "ZTOutputTransaction.h"

#include "ZTFileName.h"
#include "ZTOutputFolder.h"
#include "ZTStreamWriter.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImageWriter>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// How often a file looks at a name, counting the next names (STEM-2, ...) and names looked at
// again because they changed hands meanwhile; and how many random temporary names it tries.
constexpr int maxNameTries = 100;
constexpr int maxTemporaryTries = 100;
constexpr mode_t permissionBits = 0777;

// Whether @p name is an entry of the folder itself, not a path that leads elsewhere.
bool isEntryName(const QByteArray& name)
{
    return !name.isEmpty() && name != "." && name != ".." && !name.contains('/')
        && !name.contains('\0');
}

// Whether a renameat2() flag failed because the file system does not offer it.
bool isUnsupported(int errnum)
{
    return errnum == EINVAL || errnum == ENOSYS || errnum == EOPNOTSUPP;
}

// Whether linkat() failed because the file system has no hard links (FAT, exFAT), or no more for
// this file.
bool linksUnsupported(int errnum)
{
    return errnum == EPERM || errnum == EOPNOTSUPP || errnum == EMLINK;
}

QString candidateName(const QString& stem, const QString& suffix, int number)
{
    return number == 1 ? stem + suffix : stem + QLatin1Char('-') + QString::number(number) + suffix;
}

} // namespace

// A file written under a hidden name, waiting to take its own. Removed unless taken().
struct ZTOutputTransaction::Temporary
{
    explicit Temporary(int folder)
        : folder(folder)
    {}
    ~Temporary() { discard(); }
    Q_DISABLE_COPY(Temporary)

    bool isOpen() const { return fd >= 0; }
    void discard()
    {
        if (fd >= 0) {
            ::unlinkat(folder, name.constData(), 0);
            taken();
        }
    }
    // The file now has another name; the temporary name is no longer ours.
    void taken()
    {
        ::close(fd);
        fd = -1;
    }

    const int folder;
    QByteArray name;
    int fd = -1;
    ino_t inode = 0;
};

ZTOutputTransaction::ZTOutputTransaction(const ZTOutputFolder& folder)
    : m_folder(folder)
{}

ZTOutputTransaction::~ZTOutputTransaction()
{
    rollback();
}

QString ZTOutputTransaction::write(
    const QString& stem, const QString& suffix, const QByteArray& data, QString* error)
{
    Temporary temporary(m_folder.descriptor());
    QString fileName = stem + suffix;
    int errnum = 0;
    QString why;
    for (int number = 1, tries = 0; tries < maxNameTries; ++tries) {
        fileName = candidateName(stem, suffix, number);
        const QByteArray name = ZTFileName::toBytes(fileName);
        if (!isEntryName(name)) {
            why = QStringLiteral("is not a file name");
            break;
        }
        if (!temporary.isOpen() && !writeTemporary(temporary, data, &errnum)) {
            break;
        }
        const Step step = place(temporary, name, &errnum, &why);
        if (step == Step::Done) {
            return m_folder.filePath(fileName);
        }
        if (step == Step::Failed) {
            break;
        }
        number += step == Step::NextName ? 1 : 0;
    }
    if (error) {
        const QString path = m_folder.filePath(fileName);
        if (errnum != 0) {
            *error = QStringLiteral("cannot write %1 (%2)")
                         .arg(path, ZTStreamWriter::errorText(errnum));
        } else if (!why.isEmpty()) {
            *error = path + QLatin1Char(' ') + why;
        } else {
            *error = QStringLiteral("cannot write %1: no free name").arg(path);
        }
    }
    return QString();
}

QString ZTOutputTransaction::writeImage(
    const QString& stem, const QString& suffix, const QImage& image, int quality, QString* error)
{
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, QFileInfo(suffix).suffix().toLower().toLatin1());
    writer.setQuality(quality);
    if (!writer.write(image)) {
        if (error) {
            *error = QStringLiteral("cannot encode %1 (%2)")
                         .arg(m_folder.filePath(stem + suffix), writer.errorString());
        }
        return QString();
    }
    return write(stem, suffix, data, error);
}

void ZTOutputTransaction::commit()
{
    for (const Placed& file : m_placed) {
        if (!file.backup.isEmpty()) {
            ::unlinkat(m_folder.descriptor(), file.backup.constData(), 0);
        }
    }
    m_placed.clear();
}

// Newest first. A name that no longer holds our file was taken over by someone else meanwhile:
// their file stays, and what we replaced is gone with ours.
void ZTOutputTransaction::rollback()
{
    const int folder = m_folder.descriptor();
    for (auto file = m_placed.rbegin(); file != m_placed.rend(); ++file) {
        struct stat current;
        const bool ours
            = ::fstatat(folder, file->name.constData(), &current, AT_SYMLINK_NOFOLLOW) == 0
            && current.st_ino == file->inode;
        if (file->backup.isEmpty()) {
            if (ours) {
                ::unlinkat(folder, file->name.constData(), 0);
            }
        } else if (ours) {
            ::renameat(folder, file->backup.constData(), folder, file->name.constData());
        } else {
            ::unlinkat(folder, file->backup.constData(), 0);
        }
    }
    m_placed.clear();
}

bool ZTOutputTransaction::writeTemporary(Temporary& temporary, const QByteArray& data, int* errnum)
{
    for (int attempt = 0; attempt < maxTemporaryTries && !temporary.isOpen(); ++attempt) {
        temporary.name = ZTOutputFolder::temporaryName();
        temporary.fd = ::openat(temporary.folder, temporary.name.constData(),
            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (!temporary.isOpen() && errno != EEXIST) {
            *errnum = errno;
            return false;
        }
    }
    struct stat status;
    *errnum = !temporary.isOpen() ? EEXIST : ZTStreamWriter::writeAll(temporary.fd, data);
    // On the disk before it takes a name, as a rename may reach the disk before the data does.
    if (*errnum == 0 && ::fdatasync(temporary.fd) != 0) {
        *errnum = errno;
    }
    if (*errnum == 0 && ::fstat(temporary.fd, &status) != 0) {
        *errnum = errno;
    }
    if (*errnum != 0) {
        temporary.discard();
        return false;
    }
    temporary.inode = status.st_ino;
    return true;
}

ZTOutputTransaction::Step ZTOutputTransaction::place(
    Temporary& temporary, const QByteArray& name, int* errnum, QString* why)
{
    const int folder = m_folder.descriptor();
    struct stat existing;
    const bool exists = ::fstatat(folder, name.constData(), &existing, AT_SYMLINK_NOFOLLOW) == 0;
    if (!exists && errno != ENOENT) {
        *errnum = errno;
        return Step::Failed;
    }
    if (m_folder.isInput(name, exists ? &existing : nullptr)) {
        *why = QStringLiteral("is an input of this run; ztroi does not replace it");
        return Step::Failed;
    }
    if (m_beforeTaking) {
        m_beforeTaking(name);
    }
    if (!exists) {
        const int result = claimFreeName(temporary, name);
        if (result == EEXIST) {
            return Step::Again;
        }
        *errnum = result;
        if (result != 0) {
            return Step::Failed;
        }
        m_placed.push_back({name, temporary.inode, QByteArray()});
        return Step::Done;
    }
    if (S_ISLNK(existing.st_mode)) {
        *why = QStringLiteral("is a symbolic link; ztroi neither follows nor replaces it");
        return Step::Failed;
    }
    if (!S_ISREG(existing.st_mode)) {
        *why = QStringLiteral("is not a regular file; ztroi does not replace it");
        return Step::Failed;
    }
    if (!m_folder.mayReplace(existing)) {
        return Step::NextName;
    }
    ::fchmod(temporary.fd, existing.st_mode & permissionBits);
    const ino_t inode = temporary.inode;
    QByteArray backup;
    *errnum = replaceFile(temporary, name, &backup);
    // The file was removed, or another took the name, since the name was looked at: again.
    struct stat ours;
    if ((*errnum == ENOENT
            && ::fstatat(folder, temporary.name.constData(), &ours, AT_SYMLINK_NOFOLLOW) == 0)
        || *errnum == EEXIST) {
        *errnum = 0;
        return Step::Again;
    }
    if (*errnum != 0) {
        return Step::Failed;
    }
    // Another process may have put its own file under the name since it was looked at: that one
    // goes back, and ours, now gone, is written again for the next try.
    struct stat replaced;
    if (::fstatat(folder, backup.constData(), &replaced, AT_SYMLINK_NOFOLLOW) == 0
        && replaced.st_ino != existing.st_ino) {
        ::renameat(folder, backup.constData(), folder, name.constData());
        return Step::Again;
    }
    m_placed.push_back({name, inode, backup});
    return Step::Done;
}

void ZTOutputTransaction::simulate(
    int primitives, std::function<void(const QByteArray&)> beforeTaking)
{
    m_missing = primitives;
    m_beforeTaking = std::move(beforeTaking);
}

bool ZTOutputTransaction::offers(Primitive primitive) const
{
    return (m_missing & primitive) == 0;
}

// Takes a name that is free, never replacing a file that appears under it meanwhile: EEXIST then.
int ZTOutputTransaction::claimFreeName(Temporary& temporary, const QByteArray& name)
{
    const int result = renameNoReplace(temporary.name, name);
    if (result == 0) {
        temporary.taken();
    }
    return result;
}

// Renames the entry @p from to @p to unless @p to exists: EEXIST then.
int ZTOutputTransaction::renameNoReplace(const QByteArray& from, const QByteArray& to)
{
    const int folder = m_folder.descriptor();
    if (offers(RenameNoReplace)) {
        if (::renameat2(folder, from.constData(), folder, to.constData(), RENAME_NOREPLACE) == 0) {
            return 0;
        }
        if (!isUnsupported(errno)) {
            return errno;
        }
    }
    // A hard link does not replace anything either.
    if (offers(HardLinks)) {
        if (::linkat(folder, from.constData(), folder, to.constData(), 0) == 0) {
            ::unlinkat(folder, from.constData(), 0);
            return 0;
        }
        if (!linksUnsupported(errno)) {
            return errno;
        }
    }
    // Neither (FAT, exFAT): an empty file created only if the name is free holds it, and the
    // rename replaces that file. Not atomic: the placeholder could be replaced in between.
    const int placeholder = ::openat(
        folder, to.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (placeholder < 0) {
        return errno;
    }
    ::close(placeholder);
    if (::renameat(folder, from.constData(), folder, to.constData()) != 0) {
        const int result = errno;
        ::unlinkat(folder, to.constData(), 0);
        return result;
    }
    return 0;
}

// Swaps the new file in; the one it replaces is kept under @p backup for rollback().
int ZTOutputTransaction::replaceFile(
    Temporary& temporary, const QByteArray& name, QByteArray* backup)
{
    const int folder = temporary.folder;
    if (offers(RenameExchange)) {
        if (::renameat2(
                folder, temporary.name.constData(), folder, name.constData(), RENAME_EXCHANGE)
            == 0) {
            *backup = temporary.name;
            temporary.taken();
            return 0;
        }
        if (!isUnsupported(errno)) {
            return errno;
        }
    }
    // Without the swap the old file is kept aside first, then the new one takes its name.
    bool moved = false;
    int result = keepAside(name, backup, &moved);
    if (result != 0) {
        return result;
    }
    // A second name of the old file: one rename puts the new one in its place.
    if (!moved) {
        result = ::renameat(folder, temporary.name.constData(), folder, name.constData()) == 0
            ? 0
            : errno;
        if (result != 0) {
            ::unlinkat(folder, backup->constData(), 0);
            return result;
        }
        temporary.taken();
        return 0;
    }
    // The old file itself was moved aside, so the name is free for a moment (the swap is not
    // atomic on such file systems): the new file claims it, or the old one goes back. Should
    // another file have taken the name meanwhile, that one stays and the old one goes.
    result = claimFreeName(temporary, name);
    if (result != 0 && renameNoReplace(*backup, name) == EEXIST) {
        ::unlinkat(folder, backup->constData(), 0);
    }
    return result;
}

// Gives the file @p name the second, hidden name @p backup: a hard link, or where there are none
// the file itself moves there (@p moved).
int ZTOutputTransaction::keepAside(const QByteArray& name, QByteArray* backup, bool* moved)
{
    const int folder = m_folder.descriptor();
    int result = EEXIST;
    for (int attempt = 0; attempt < maxTemporaryTries && result == EEXIST; ++attempt) {
        *backup = ZTOutputFolder::temporaryName();
        *moved = !offers(HardLinks);
        if (!*moved) {
            result = ::linkat(folder, name.constData(), folder, backup->constData(), 0) == 0
                ? 0
                : errno;
            *moved = linksUnsupported(result);
        }
        if (*moved) {
            result = renameNoReplace(name, *backup);
        }
    }
    return result;
}
