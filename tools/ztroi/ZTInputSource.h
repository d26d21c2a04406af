#ifndef ZTINPUTSOURCE_H
#define ZTINPUTSOURCE_H

#include "ZTToolSettings.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

class QIODevice;

/**
 * The inputs of a run, one at a time: the pictures of the command line, then the entries of each
 * --list and --list0 in the order given. When folders are searched, a folder on the command line
 * stands for the pictures beneath it (ZTPictureFolder); otherwise it is an input as it is.
 * prepare() reads every list once, checks its entries and copies them into a spool, an unlinked
 * temporary file; every later pass reads the spool. So the memory stays the same however long the
 * lists are, a list on standard input or a pipe can be read as often as needed, and a list file
 * rewritten during the run does not change the inputs.
 */
class ZTInputSource
{
public:
    /**
     * Called with each entry as it is read, and the name its outputs start from (empty: from its
     * file name; see next()); false stops the reading (the caller's error).
     */
    using Visitor = std::function<bool(const QString& input, const QString& outputStem)>;

    /**
     * With @p searchFolders, a folder among @p pictures is searched for the pictures of
     * @p formats (Qt's names, as in ZTAnalysisSettings::formats).
     */
    ZTInputSource(const QStringList& pictures, const QList<ZTInputList>& lists,
        bool searchFolders = false, const QList<QByteArray>& formats = {});
    ~ZTInputSource();
    Q_DISABLE_COPY(ZTInputSource)

    /**
     * Reads every list into the spool, calling @p visit (when given) with each input, those of
     * the command line first. Returns false with @p error set on the first list that cannot be
     * read or holds an entry that cannot be a file name, when the spool cannot be written, and
     * at a folder on the command line that is to be searched and cannot be read.
     */
    bool prepare(const Visitor& visit, QString* error);

    /** How many inputs prepare() found. */
    qint64 count() const { return m_count; }

    /** Starts again at the first input. */
    void rewind();
    /**
     * The next input in @p input, and in @p outputStem (when given) the name its outputs start
     * from: the path below its folder without the suffix ("a/b") for a picture found in a
     * folder, empty for any other. False at the end, or when the spool cannot be read (error()
     * then says why).
     */
    bool next(QString* input, QString* outputStem = nullptr);
    /**
     * What prepare() met in the folders and left out: subfolders that could not be read, or lay
     * too deep, and folders without a picture; one line each, at most maxProblems of them.
     */
    QStringList problems() const { return m_problems; }
    /** How many problems there were in all, those beyond maxProblems included. */
    int problemCount() const { return m_problemCount; }
    static constexpr int maxProblems = 20;
    /** Why next() ended early; empty when it reached the end. */
    QString error() const { return m_error; }

    /**
     * Hands the entries in @p device to @p take: entries ended by @p separator or the end. With
     * '\n', blank lines are skipped and a trailing carriage return is dropped; otherwise empty
     * entries are skipped. Entries are the bytes as they are, spaces included. Returns false with
     * @p error set, having read at most one chunk further, at an entry longer than a path can be
     * (PATH_MAX), at a NUL byte in a '\n'-separated entry, after more than 2^20 empty entries in
     * a row (--list0 /dev/zero), when @p device cannot be read, or when @p take returns false
     * (@p error is then left as it is).
     */
    static bool readList(QIODevice* device, char separator,
        const std::function<bool(const QByteArray& entry)>& take, QString* error);

private:
    bool openSpool(QString* error);
    bool appendToSpool(const QByteArray& entry, QString* error, const QByteArray& stem = {});
    bool spoolPictures(const Visitor& visit, QString* error);
    bool spoolFolder(const QString& folder, const Visitor& visit, QString* error);
    void addProblems(const QStringList& problems);
    bool flushSpool(QString* error);
    bool readList(const ZTInputList& list, const Visitor& visit, QString* error);
    bool fillBuffer();

    QStringList m_pictures;
    QList<ZTInputList> m_lists;
    bool m_searchFolders = false;
    QList<QByteArray> m_formats;
    QStringList m_problems;
    int m_problemCount = 0;
    qint64 m_count = 0;
    /** The entries of the lists (and of the folders), each as its path and its output stem,
     *  both ended by a NUL byte. */
    int m_spool = -1;
    QByteArray m_buffer; ///< what is still to be written to, or read from, the spool
    int m_bufferAt = 0;  ///< where reading m_buffer goes on
    int m_nextPicture = 0;
    bool m_spoolEnded = false;
    QString m_error;
};

#endif // ZTINPUTSOURCE_H
