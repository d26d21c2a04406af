#ifndef ZTSTREAMWRITER_H
#define ZTSTREAMWRITER_H

#include <QByteArray>
#include <QString>

/**
 * Writes whole buffers to file descriptors and says in words why a write failed. ztroi's standard
 * output and its output files both go through it, so that a full disk, a file-size limit or a
 * closed pipe is reported as what it is.
 */
class ZTStreamWriter
{
public:
    /**
     * Writes all of @p data to @p fd: retries interrupted and partial writes and waits while a
     * non-blocking descriptor is full. Returns 0, or the errno of the write that failed.
     */
    static int writeAll(int fd, const QByteArray& data);

    /**
     * writeAll() for one record (a JSON line, a summary): when a failure left part of @p data in
     * a regular file, the file is cut back to where it ended before, so a record is written whole
     * or not at all. Returns 0 or the errno of the failure.
     */
    static int writeRecord(int fd, const QByteArray& data);

    /** The system's description of @p errnum, starting in lower case: "no space left on device". */
    static QString errorText(int errnum);
};

#endif // ZTSTREAMWRITER_H
