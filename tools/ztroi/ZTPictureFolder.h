#ifndef ZTPICTUREFOLDER_H
#define ZTPICTUREFOLDER_H

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

/**
 * Finds the pictures in a folder tree, for ztroi --recursive. A picture is a regular file whose
 * suffix names one of the formats read (case aside: .jpg, .jpeg, .jpe, .jfif, .png, .gif, .bmp,
 * .dib, .webp, .tif, .tiff, .ico, .cur, .mng); the decoder still checks its first bytes.
 * Skipped: names that start with a dot (hidden files and folders), symbolic links of any kind
 * (so the walk never leaves the tree nor runs in a loop), files that ztroi wrote itself (listed
 * in their folder's record), devices, FIFOs and sockets, and a folder already open further up
 * (a bind mount of itself). Each folder's entries are taken in the order of their names' bytes,
 * a subfolder's pictures where its name falls, so the order is the same on every run.
 *
 * Memory: the names of one folder at each level of the walk, never the whole tree.
 */
class ZTPictureFolder
{
public:
    /** Called with each picture's path and the name its outputs start from (see below). */
    using Visit = std::function<bool(const QString& path, const QString& outputStem)>;

    /** Deepest level of subfolders searched; deeper ones are reported and skipped. */
    static constexpr int maxDepth = 64;

    /**
     * Walks the folder @p root and calls @p visit for each picture: its path (@p root, then the
     * names below it) and its output stem, the path below @p root without the file's last suffix
     * ("a/b" for root/a/b.jpg), so that the outputs mirror the tree. @p formats are Qt's format
     * names, as in ZTAnalysisSettings::formats. A subfolder that cannot be read, or lies deeper
     * than maxDepth, is skipped and a line about it appended to @p problems. Returns false when
     * @p root cannot be opened as a folder (@p error says why) or @p visit returns false.
     */
    static bool walk(const QString& root, const QList<QByteArray>& formats, const Visit& visit,
        QStringList* problems, QString* error);

    /** Whether the file name @p name has the suffix of one of @p formats. */
    static bool isPictureName(const QByteArray& name, const QList<QByteArray>& formats);
};

#endif // ZTPICTUREFOLDER_H
