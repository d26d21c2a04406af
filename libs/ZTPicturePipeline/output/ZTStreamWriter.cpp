#include "output/ZTStreamWriter.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Where a write to @p fd begins in its file: at the end when the file is open for appending (as
// with ">>"), else at the current position; -1 when @p fd is not a regular file.
off_t recordStart(int fd)
{
    struct stat status;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        return -1;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    return flags != -1 && (flags & O_APPEND) ? status.st_size : ::lseek(fd, 0, SEEK_CUR);
}

} // namespace

int ZTStreamWriter::writeAll(int fd, const QByteArray& data)
{
    const char* next = data.constData();
    size_t left = size_t(data.size());
    while (left > 0) {
        const ssize_t written = ::write(fd, next, left);
        if (written >= 0) {
            next += written;
            left -= size_t(written);
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            // Someone handed us a non-blocking descriptor: wait until it takes more.
            pollfd ready {fd, POLLOUT, 0};
            ::poll(&ready, 1, -1);
        } else if (errno != EINTR) {
            return errno;
        }
    }
    return 0;
}

int ZTStreamWriter::writeRecord(int fd, const QByteArray& data)
{
    const off_t start = recordStart(fd);
    const int error = writeAll(fd, data);
    struct stat status;
    if (error != 0 && start >= 0 && ::fstat(fd, &status) == 0 && status.st_size > start) {
        // A full disk may take the first part of a line; readers must never see that part.
        if (::ftruncate(fd, start) == 0) {
            ::lseek(fd, start, SEEK_SET);
        }
    }
    return error;
}

QString ZTStreamWriter::errorText(int errnum)
{
    char buffer[256];
    // The GNU strerror_r: returns the text, which need not be in the buffer.
    QString text = QString::fromLocal8Bit(::strerror_r(errnum, buffer, sizeof buffer));
    if (!text.isEmpty()) {
        text[0] = text.at(0).toLower();
    }
    return text;
}
