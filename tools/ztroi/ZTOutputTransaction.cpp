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

QString candidateName(const QString& stem, const QString& suffix, int number)
{
    return number == 1 ? stem + suffix
                       : QStringLiteral("%1-%2%3").arg(stem).arg(number).arg(suffix);
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

// Takes a name that is free, never replacing a file that appears under it meanwhile: EEXIST then.
int ZTOutputTransaction::claimFreeName(Temporary& temporary, const QByteArray& name)
{
    const int folder = temporary.folder;
    if (::renameat2(folder, temporary.name.constData(), folder, name.constData(), RENAME_NOREPLACE)
        != 0) {
        if (!isUnsupported(errno)) {
            return errno;
        }
        // A file system without the flag: a hard link does not replace anything either.
        if (::linkat(folder, temporary.name.constData(), folder, name.constData(), 0) != 0) {
            return errno;
        }
        ::unlinkat(folder, temporary.name.constData(), 0);
    }
    temporary.taken();
    return 0;
}

// Swaps the new file in; the one it replaces is kept under @p backup for rollback().
int ZTOutputTransaction::replaceFile(
    Temporary& temporary, const QByteArray& name, QByteArray* backup)
{
    const int folder = temporary.folder;
    if (::renameat2(folder, temporary.name.constData(), folder, name.constData(), RENAME_EXCHANGE)
        == 0) {
        *backup = temporary.name;
        temporary.taken();
        return 0;
    }
    if (!isUnsupported(errno)) {
        return errno;
    }
    // A file system without the swap: a second name keeps the old file, then one rename puts the
    // new one in its place.
    for (int attempt = 0;; ++attempt) {
        *backup = ZTOutputFolder::temporaryName();
        if (::linkat(folder, name.constData(), folder, backup->constData(), 0) == 0) {
            break;
        }
        if (errno != EEXIST || attempt == maxTemporaryTries) {
            return errno;
        }
    }
    if (::renameat(folder, temporary.name.constData(), folder, name.constData()) != 0) {
        const int result = errno;
        ::unlinkat(folder, backup->constData(), 0);
        return result;
    }
    temporary.taken();
    return 0;
}
