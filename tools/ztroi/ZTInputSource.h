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
 * --list and --list0 in the order given. prepare() reads every list once, checks its entries and
 * copies them into a spool, an unlinked temporary file; every later pass reads the spool. So the
 * memory stays the same however long the lists are, a list on standard input or a pipe can be
 * read as often as needed, and a list file rewritten during the run does not change the inputs.
 */
class ZTInputSource
{
public:
    /** Called with each entry as it is read; false stops the reading (the caller's error). */
    using Visitor = std::function<bool(const QString& input)>;

    ZTInputSource(const QStringList& pictures, const QList<ZTInputList>& lists);
    ~ZTInputSource();
    Q_DISABLE_COPY(ZTInputSource)

    /**
     * Reads every list into the spool, calling @p visit (when given) with each input, those of
     * the command line first. Returns false with @p error set on the first list that cannot be
     * read or holds an entry that cannot be a file name, or when the spool cannot be written.
     */
    bool prepare(const Visitor& visit, QString* error);

    /** How many inputs prepare() found. */
    qint64 count() const { return m_count; }

    /** Starts again at the first input. */
    void rewind();
    /**
     * The next input in @p input; false at the end, or when the spool cannot be read (error()
     * then says why).
     */
    bool next(QString* input);
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
    bool appendToSpool(const QByteArray& entry, QString* error);
    bool flushSpool(QString* error);
    bool readList(const ZTInputList& list, const Visitor& visit, QString* error);
    bool fillBuffer();

    QStringList m_pictures;
    QList<ZTInputList> m_lists;
    qint64 m_count = 0;
    int m_spool = -1;    ///< the entries of the lists, each ended by a NUL byte
    QByteArray m_buffer; ///< what is still to be written to, or read from, the spool
    int m_bufferAt = 0;  ///< where reading m_buffer goes on
    int m_nextPicture = 0;
    bool m_spoolEnded = false;
    QString m_error;
};

#endif // ZTINPUTSOURCE_H
