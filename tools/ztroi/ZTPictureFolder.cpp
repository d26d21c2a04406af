#include "ZTPictureFolder.h"

#include "output/ZTStreamWriter.h"
#include "text/ZTFileName.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

// The folder in which ztroi lists the files that it wrote (see ZTOutputFolder).
const char recordFolderName[] = ".ztroi-record";

struct FormatSuffixes
{
    const char* format;
    std::vector<const char*> suffixes;
};

const std::vector<FormatSuffixes>& suffixTable()
{
    static const std::vector<FormatSuffixes> table {
        {"jpeg", {"jpg", "jpeg", "jpe", "jfif"}},
        {"png", {"png"}},
        {"gif", {"gif"}},
        {"bmp", {"bmp", "dib"}},
        {"webp", {"webp"}},
        {"tiff", {"tif", "tiff"}},
        {"ico", {"ico"}},
        {"cur", {"cur"}},
        {"mng", {"mng"}},
    };
    return table;
}

using Identity = std::pair<dev_t, ino_t>;

// One walk: the caller's arguments, and the folders open above the current one.
struct Walk
{
    const QList<QByteArray>& formats;
    const ZTPictureFolder::Visit& visit;
    QStringList* problems;
    std::vector<Identity> above;
};

QString systemError(int error)
{
    return ZTStreamWriter::errorText(error);
}

// The names in the open folder @p folder but "." and "..", in the order of their bytes; false
// when it cannot be read.
bool sortedNames(int folder, std::vector<QByteArray>* names)
{
    const int copy = ::fcntl(folder, F_DUPFD_CLOEXEC, 0);
    DIR* const listing = copy >= 0 ? ::fdopendir(copy) : nullptr;
    if (!listing) {
        if (copy >= 0) {
            ::close(copy);
        }
        return false;
    }
    errno = 0;
    while (const dirent* entry = ::readdir(listing)) {
        names->emplace_back(entry->d_name);
    }
    const int failure = errno;
    ::closedir(listing);
    errno = failure;
    // Bytes as unsigned, as the C locale sorts them: the same order whatever the locale.
    std::sort(names->begin(), names->end(), [](const QByteArray& a, const QByteArray& b) {
        const int common = int(std::min(a.size(), b.size()));
        const int order = std::memcmp(a.constData(), b.constData(), size_t(common));
        return order != 0 ? order < 0 : a.size() < b.size();
    });
    return failure == 0;
}

// Whether ztroi's record in @p record (-1: none) lists @p name as a file that it wrote.
bool writtenByZtroi(int record, const QByteArray& name)
{
    return record >= 0 && ::faccessat(record, name.constData(), F_OK, AT_SYMLINK_NOFOLLOW) == 0;
}

QString joined(const QString& folder, const QByteArray& name)
{
    const QString text = ZTFileName::fromBytes(name);
    return folder.isEmpty()                 ? text
        : folder.endsWith(QLatin1Char('/')) ? folder + text
                                            : folder + QLatin1Char('/') + text;
}

bool walkFolder(Walk& walk, int folder, const QString& path, const QString& relative);

// Opens the subfolder @p name of @p folder, never through a link, and walks it.
bool walkSubfolder(Walk& walk, int folder, const QByteArray& name, const struct stat& status,
    const QString& path, const QString& relative)
{
    const QString subpath = joined(path, name);
    if (std::find(walk.above.begin(), walk.above.end(), Identity(status.st_dev, status.st_ino))
        != walk.above.end()) {
        walk.problems->append(
            QStringLiteral("%1: the folder is one of its own parents; skipped").arg(subpath));
        return true;
    }
    if (int(walk.above.size()) > ZTPictureFolder::maxDepth) {
        walk.problems->append(QStringLiteral("%1: deeper than %2 folders; skipped")
                                  .arg(subpath)
                                  .arg(ZTPictureFolder::maxDepth));
        return true;
    }
    const int sub
        = ::openat(folder, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (sub < 0) {
        walk.problems->append(QStringLiteral("%1: cannot read the folder (%2); skipped")
                                  .arg(subpath, systemError(errno)));
        return true;
    }
    walk.above.emplace_back(status.st_dev, status.st_ino);
    const bool going = walkFolder(walk, sub, subpath, joined(relative, name));
    walk.above.pop_back();
    ::close(sub);
    return going;
}

bool walkFolder(Walk& walk, int folder, const QString& path, const QString& relative)
{
    std::vector<QByteArray> names;
    if (!sortedNames(folder, &names)) {
        walk.problems->append(
            QStringLiteral("%1: cannot read the folder (%2); skipped")
                .arg(path.isEmpty() ? QStringLiteral(".") : path, systemError(errno)));
        return true;
    }
    const int record
        = ::openat(folder, recordFolderName, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    bool going = true;
    for (const QByteArray& name : names) {
        if (name.startsWith('.')) {
            continue; // hidden, and "." and ".."
        }
        struct stat status;
        if (::fstatat(folder, name.constData(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
            continue; // gone since the folder was read
        }
        if (S_ISDIR(status.st_mode)) {
            going = walkSubfolder(walk, folder, name, status, path, relative);
        } else if (S_ISREG(status.st_mode) && ZTPictureFolder::isPictureName(name, walk.formats)
            && !writtenByZtroi(record, name)) {
            const QString file = joined(relative, name);
            const int suffix = file.lastIndexOf(QLatin1Char('.'));
            going = walk.visit(joined(path, name), file.left(suffix));
        }
        if (!going) {
            break;
        }
    }
    if (record >= 0) {
        ::close(record);
    }
    return going;
}

} // namespace

bool ZTPictureFolder::isPictureName(const QByteArray& name, const QList<QByteArray>& formats)
{
    const int dot = name.lastIndexOf('.');
    if (dot <= 0) {
        return false; // no suffix, or a hidden name with nothing before its dot
    }
    const QByteArray suffix = name.mid(dot + 1).toLower();
    for (const FormatSuffixes& format : suffixTable()) {
        if (formats.contains(QByteArray(format.format))
            && std::any_of(format.suffixes.begin(), format.suffixes.end(),
                [&](const char* known) { return suffix == known; })) {
            return true;
        }
    }
    return false;
}

bool ZTPictureFolder::walk(const QString& root, const QList<QByteArray>& formats,
    const Visit& visit, QStringList* problems, QString* error)
{
    // The root is the user's own choice: a link to a folder given as the input is followed.
    const int folder
        = ::open(ZTFileName::toBytes(root).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat status;
    if (folder < 0 || ::fstat(folder, &status) != 0) {
        *error = QStringLiteral("%1: cannot read the folder (%2)").arg(root, systemError(errno));
        if (folder >= 0) {
            ::close(folder);
        }
        return false;
    }
    Walk walk {formats, visit, problems, {{status.st_dev, status.st_ino}}};
    const bool going = walkFolder(walk, folder, root, QString());
    ::close(folder);
    return going;
}
