#include "output/ZTOutputFolder.h"

#include "output/ZTStreamWriter.h"
#include "text/ZTFileName.h"

#include <QFileInfo>
#include <QHash>
#include <QRandomGenerator>

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

constexpr int temporaryNameLetters = 10;

bool sameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
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

bool before(const timespec& a, const timespec& b)
{
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

} // namespace

ZTOutputFolder::~ZTOutputFolder()
{
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

bool ZTOutputFolder::open(const QString& path, const QStringList& inputs, QString* error)
{
    const auto failed = [&](const QString& why) {
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
    struct stat folder;
    if (m_fd < 0 || ::fstat(m_fd, &folder) != 0) {
        return failed(QStringLiteral("cannot open the output folder (%1)")
                          .arg(ZTStreamWriter::errorText(errno)));
    }
    m_path = path;
    noteInputs(inputs, folder);
    // The start is taken under the exclusive lock: a run that starts meanwhile waits for the
    // shared one, so everything it writes is newer than this run's start.
    m_othersWriting = ::flock(m_fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    noteStart();
    ::flock(m_fd, LOCK_SH);
    return true;
}

// Joined by hand: QDir takes a name that starts with ':' for a resource path and returns it alone.
QString ZTOutputFolder::filePath(const QString& name) const
{
    return m_path.endsWith(QLatin1Char('/')) ? m_path + name : m_path + QLatin1Char('/') + name;
}

bool ZTOutputFolder::isInput(const QByteArray& name, const struct stat* existing) const
{
    return m_inputNames.contains(name) || (existing && m_inputInodes.contains(existing->st_ino));
}

bool ZTOutputFolder::mayReplace(const struct stat& existing) const
{
    return !m_othersWriting && before(existing.st_ctim, m_start);
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
// it is named inside the folder, by its name: one that does not exist yet must not be created by
// an output either, or whether it is read would depend on timing.
void ZTOutputFolder::noteInputs(const QStringList& inputs, const struct stat& folder)
{
    QHash<QString, bool> parentIsFolder;
    for (const QString& input : inputs) {
        const QFileInfo info(input);
        const QString parent = info.path();
        auto known = parentIsFolder.find(parent);
        if (known == parentIsFolder.end()) {
            struct stat status;
            known = parentIsFolder.insert(parent,
                ::stat(ZTFileName::toBytes(parent).constData(), &status) == 0
                    && sameFile(status, folder));
        }
        if (*known) {
            m_inputNames.insert(ZTFileName::toBytes(info.fileName()));
        }
        struct stat status;
        if (::stat(ZTFileName::toBytes(input).constData(), &status) == 0
            && status.st_dev == folder.st_dev) {
            m_inputInodes.insert(status.st_ino);
        }
    }
}

// The run's start in the file system's own clock: the change time of a file made for the
// purpose. A server's clock or a coarse timestamp cannot then make a file changed after the start
// look older. Where nothing can be created, nothing will be replaced either: the local clock does.
void ZTOutputFolder::noteStart()
{
    for (int attempt = 0; attempt < 10; ++attempt) {
        const QByteArray name = temporaryName();
        const int fd = ::openat(
            m_fd, name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno == EEXIST) {
            continue;
        }
        struct stat status;
        const bool stamped = fd >= 0 && ::fstat(fd, &status) == 0;
        if (fd >= 0) {
            ::close(fd);
            ::unlinkat(m_fd, name.constData(), 0);
        }
        if (stamped) {
            m_start = status.st_ctim;
            return;
        }
        break;
    }
    ::clock_gettime(CLOCK_REALTIME, &m_start);
}
