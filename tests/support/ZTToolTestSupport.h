#ifndef ZTTOOLTESTSUPPORT_H
#define ZTTOOLTESTSUPPORT_H

// Helpers shared by the tests of ztroi: test pictures and their files.

#include "analysis/ZTOptionTable.h"

#include <QBuffer>
#include <QPainter>
#include <QtTest>

#include <algorithm>

// @p image encoded as @p format ("png", "jpeg", ...) at @p quality (-1: the format's default).
inline QByteArray encoded(const QImage& image, const char* format, int quality = -1)
{
    QByteArray data;
    QBuffer buffer(&data);
    image.save(&buffer, format, quality);
    return data;
}

// Writes @p data into the file at @p path and returns the path.
inline QString writeFile(const QString& path, const QByteArray& data)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size()) {
        qFatal("cannot write %s", qPrintable(path));
    }
    return path;
}

// A dark picture with a bright orange disc centred on @p object: something to find.
inline QImage scene(const QSize& size, const QPoint& object)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(qRgb(40, 50, 45));
    const int radius = std::max(3, std::min(size.width(), size.height()) / 8);
    QPainter painter(&image);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(230, 170, 40));
    painter.drawEllipse(object, radius, radius);
    return image;
}

// @p jpeg with an EXIF block after its start marker that holds only the orientation tag, set to
// @p orientation (1 ... 8; 6 turns the stored picture a quarter clockwise for display). The
// block: "Exif", a big-endian TIFF header, a directory of one entry (tag 0x0112, SHORT, count 1,
// the value in the entry's first two bytes) and no next directory.
inline QByteArray withOrientation(const QByteArray& jpeg, char orientation)
{
    const QByteArray exif("\xFF\xE1\x00\x22"
                          "Exif\0\0MM\0\x2A\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0",
        29);
    return jpeg.left(2) + exif + orientation + QByteArray(6, '\0') + jpeg.mid(2);
}

// The files in @p folder by name, hidden ones included; none when there is no such folder.
// The crop request that the command line makes of @p text ("16:9", "1080x1350").
inline ZTCropRequest cropRequest(const QString& text)
{
    ZTCropRequest request;
    ZTOptionTable::parseCrop(text, &request);
    return request;
}

inline QStringList filesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

#ifdef ZTROI_EXECUTABLE

#include <QProcess>
#include <QThread>

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

// What a run of ztroi gave: its exit status (-1 after a crash or two minutes) and what it
// printed.
struct Run
{
    int exitCode;
    QByteArray out;
    QByteArray err; // bytes, as names that are not UTF-8 are printed
};

// Runs ztroi with @p arguments in @p folder, with @p input on its standard input. With a @p shell
// command, ztroi is run by sh after that command ("ulimit -f 1;", or redirections such as
// ">/dev/full" to apply to ztroi).
inline Run ztroi(const QStringList& arguments, const QString& folder, const QByteArray& input = {},
    const QString& shell = {})
{
    QProcess process;
    process.setWorkingDirectory(folder);
    if (shell.isEmpty()) {
        process.start(QStringLiteral(ZTROI_EXECUTABLE), arguments);
    } else {
        process.start(QStringLiteral("sh"),
            QStringList {"-c", shell + QStringLiteral(" exec \"$0\" \"$@\""), ZTROI_EXECUTABLE}
                + arguments);
    }
    process.write(input);
    process.closeWriteChannel();
    const bool finished = process.waitForFinished(120000);
    return {finished && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
        process.readAllStandardOutput(), process.readAllStandardError()};
}

// The peak resident memory in bytes of ztroi run with @p arguments in @p folder, its output
// thrown away, or -1 when it did not end within @p seconds (then
// it is killed).
inline qint64 peakMemoryOf(const QStringList& arguments, const QString& folder, int seconds)
{
    std::vector<QByteArray> bytes {QFile::encodeName(QStringLiteral(ZTROI_EXECUTABLE))};
    for (const QString& argument : arguments) {
        bytes.push_back(argument.toUtf8());
    }
    std::vector<char*> argv;
    for (QByteArray& argument : bytes) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    const QByteArray directory = QFile::encodeName(folder);
    const pid_t child = ::fork();
    if (child == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        if (::chdir(directory.constData()) == 0) {
            ::execv(argv.front(), argv.data());
        }
        ::_exit(127);
    }
    int status = 0;
    struct rusage usage = {};
    for (int waited = 0; waited < seconds * 10; ++waited) {
        if (::wait4(child, &status, WNOHANG, &usage) == child) {
            return qint64(usage.ru_maxrss) * 1024;
        }
        QThread::msleep(100);
    }
    ::kill(child, SIGKILL);
    ::wait4(child, &status, 0, &usage);
    return -1;
}

// AddressSanitizer's shadow memory inflates every peak of resident memory: the tests that measure
// one skip in such builds.
#if defined(__SANITIZE_ADDRESS__)
#define SKIP_PEAKS_UNDER_ASAN() QSKIP("AddressSanitizer's shadow memory inflates the peak")
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SKIP_PEAKS_UNDER_ASAN() QSKIP("AddressSanitizer's shadow memory inflates the peak")
#endif
#endif
#ifndef SKIP_PEAKS_UNDER_ASAN
#define SKIP_PEAKS_UNDER_ASAN()
#endif

#endif // ZTROI_EXECUTABLE

#endif // ZTTOOLTESTSUPPORT_H
