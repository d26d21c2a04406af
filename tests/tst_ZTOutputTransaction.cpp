// How ztroi puts files into its output folder: names claimed or replaced by the rules, all or
// nothing per picture, and whole records on streams.

#include "ZTOutputFolder.h"
#include "ZTOutputTransaction.h"
#include "ZTStreamWriter.h"

#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <optional>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// What a folder holds, by name: a file's inode and content, or a link's target, or "folder".
QMap<QString, QString> contents(const QString& path)
{
    QMap<QString, QString> entries;
    const QDir dir(path);
    for (const QFileInfo& info :
        dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        QString entry = QStringLiteral("folder");
        if (info.isSymLink()) {
            entry = QStringLiteral("link to ") + info.symLinkTarget();
        } else if (info.isFile()) {
            QFile file(info.filePath());
            file.open(QIODevice::ReadOnly);
            struct stat status;
            ::lstat(QFile::encodeName(info.filePath()).constData(), &status);
            entry = QString::number(status.st_ino) + QLatin1Char(' ') + file.readAll();
        }
        entries.insert(info.fileName(), entry);
    }
    return entries;
}

void writeText(const QString& path, const QByteArray& text)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text) == text.size());
}

// A file-size limit for the test's own process, lifted again when it goes out of scope.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &m_saved);
        rlimit limit = m_saved;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &m_saved); }

private:
    rlimit m_saved;
};

} // namespace

class tst_ZTOutputTransaction : public QObject
{
    Q_OBJECT

private slots:
    void existingNames_data();
    void existingNames();
    void writeImage_data();
    void writeImage();
    void wholeRecords_data();
    void wholeRecords();
};

void tst_ZTOutputTransaction::existingNames_data()
{
    QTest::addColumn<QString>("before");  // what the folder holds when the run starts
    QTest::addColumn<QString>("during");  // what else goes on in the folder
    QTest::addColumn<QString>("written"); // where the file lands; empty when refused
    QTest::addColumn<QString>("error");

    const auto row = [](const char* name, const char* before, const char* during,
                         const char* written, const char* error = "") {
        QTest::newRow(name) << before << during << written << error;
    };
    row("a free name is claimed", "", "", "photo.map.png");
    row("an earlier run's file is replaced", "file", "", "photo.map.png");
    row("a file from another process meanwhile: the next name", "", "file", "photo-2.map.png");
    row("another run is writing: an earlier file may be its own", "file", "another run",
        "photo-2.map.png");
    row("a symbolic link is not written through", "link", "", "", "is a symbolic link");
    row("a dangling link does not create its target", "dangling link", "", "",
        "is a symbolic link");
    row("a folder stays", "folder", "", "", "is not a regular file");
    row("an input of the run stays", "input", "", "", "is an input of this run");
    row("a hard link to an input stays", "hard link to input", "", "", "is an input of this run");
    row("an input that is yet to exist is not created", "missing input", "", "",
        "is an input of this run");
    row("a file over the size limit", "file", "size limit", "", "(file too large)");
}

// Whatever the name held, rollback() leaves the folder exactly as it was (the same inodes and
// contents, nothing hidden left over), and commit() keeps the new file and nothing else.
void tst_ZTOutputTransaction::existingNames()
{
    QFETCH(QString, before);
    QFETCH(QString, during);
    QFETCH(QString, written);
    QFETCH(QString, error);

    for (const bool keep : {false, true}) {
        QTemporaryDir root;
        const QString out = root.filePath("out");
        const QString target = out + "/photo.map.png";
        QVERIFY(QDir().mkpath(out));
        writeText(root.filePath("victim.txt"), "victim");
        QStringList inputs {root.filePath("victim.txt")};
        if (before == "file" || before == "input") {
            writeText(target, "earlier");
        } else if (before == "link") {
            QVERIFY(QFile::link("../victim.txt", target));
        } else if (before == "dangling link") {
            QVERIFY(QFile::link("../created.txt", target));
        } else if (before == "folder") {
            QVERIFY(QDir().mkpath(target));
        } else if (before == "hard link to input") {
            QCOMPARE(::link(QFile::encodeName(inputs.first()), QFile::encodeName(target)), 0);
        }
        if (before == "input" || before == "missing input") {
            inputs.append(target);
        }
        // File systems stamp changes with a clock that ticks every few milliseconds.
        QThread::msleep(20);
        ZTOutputFolder other;
        QVERIFY(during != "another run" || other.open(out, {}));
        ZTOutputFolder folder;
        QVERIFY(folder.open(out, inputs));
        if (during == "file") {
            writeText(target, "another process");
        }
        const QMap<QString, QString> start = contents(out);

        ZTOutputTransaction files(folder);
        QString why;
        QString path;
        {
            std::optional<FileSizeLimit> limit;
            if (during == "size limit") {
                limit.emplace(4);
            }
            path = files.write("photo", ".map.png", "new map", &why);
        }
        QCOMPARE(path, written.isEmpty() ? QString() : out + '/' + written);
        QVERIFY2(error.isEmpty() ? why.isEmpty() : why.contains(error) && why.contains(target),
            qPrintable(why));
        QMap<QString, QString> expected = start;
        if (keep) {
            files.commit();
            if (!written.isEmpty()) {
                expected.insert(written, contents(out).value(written));
                QCOMPARE(expected.value(written).section(' ', 1), QString("new map"));
            }
        } else {
            files.rollback();
        }
        QCOMPARE(contents(out), expected);
        QCOMPARE(contents(root.path()).value("victim.txt").section(' ', 1), QString("victim"));
        QVERIFY(!QFile::exists(root.filePath("created.txt")));
    }
}

void tst_ZTOutputTransaction::writeImage_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QImage>("image");
    QTest::addColumn<QByteArray>("start"); // of the file afterwards; empty when refused

    QImage image(7, 5, QImage::Format_ARGB32);
    image.fill(qRgb(30, 60, 90));
    QTest::newRow("png") << ".map.png" << image << QByteArray("\x89PNG");
    QTest::newRow("jpg") << ".overlay.jpg" << image << QByteArray("\xFF\xD8\xFF");
    QTest::newRow("upper-case suffix") << ".MAP.PNG" << image << QByteArray("\x89PNG");
    QTest::newRow("a null image") << ".map.png" << QImage() << QByteArray();
    QTest::newRow("an unknown format") << ".map.unknownformat" << image << QByteArray();
}

// The encoder follows the suffix; what cannot be encoded leaves nothing behind.
void tst_ZTOutputTransaction::writeImage()
{
    QFETCH(QString, suffix);
    QFETCH(QImage, image);
    QFETCH(QByteArray, start);

    QTemporaryDir dir;
    ZTOutputFolder folder;
    QVERIFY(folder.open(dir.path(), {}));
    ZTOutputTransaction files(folder);
    QString error;
    const QString path = files.writeImage("photo", suffix, image, 90, &error);
    files.commit();
    QCOMPARE(path.isEmpty(), start.isEmpty());
    QVERIFY2(path.isEmpty() == error.startsWith("cannot encode " + dir.path() + "/photo"),
        qPrintable(error));
    QFile file(dir.filePath("photo" + suffix));
    QVERIFY(
        start.isEmpty() || (file.open(QIODevice::ReadOnly) && file.readAll().startsWith(start)));
    QCOMPARE(
        QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), start.isEmpty() ? 0 : 1);
}

void tst_ZTOutputTransaction::wholeRecords_data()
{
    QTest::addColumn<int>("flags");      // of the regular file written to
    QTest::addColumn<QString>("device"); // written to instead of a file

    QTest::newRow("a file at its end") << int(O_WRONLY) << "";
    QTest::newRow("a file opened for appending") << int(O_WRONLY | O_APPEND) << "";
    QTest::newRow("a full device") << 0 << "/dev/full";
}

// A record that does not fit leaves the file as it was before it and says why in words; one that
// fits is written whole.
void tst_ZTOutputTransaction::wholeRecords()
{
    QFETCH(int, flags);
    QFETCH(QString, device);

    QTemporaryDir dir;
    const QString path = device.isEmpty() ? dir.filePath("records") : device;
    if (device.isEmpty()) {
        writeText(path, "first\n");
    }
    const int fd = ::open(QFile::encodeName(path).constData(), device.isEmpty() ? flags : O_WRONLY);
    QVERIFY(fd >= 0);
    ::lseek(fd, 0, device.isEmpty() && !(flags & O_APPEND) ? SEEK_END : SEEK_SET);
    int tooLong = 0;
    int fits = 0;
    {
        const FileSizeLimit limit(16);
        tooLong = ZTStreamWriter::writeRecord(fd, "a record much too long\n");
        fits = ZTStreamWriter::writeRecord(fd, "second\n");
    }
    ::close(fd);
    const QString reason = ZTStreamWriter::errorText(tooLong);
    if (!device.isEmpty()) {
        QCOMPARE(reason, QString("no space left on device"));
        return;
    }
    QCOMPARE(reason, QString("file too large"));
    QCOMPARE(fits, 0);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("first\nsecond\n"));
}

QTEST_GUILESS_MAIN(tst_ZTOutputTransaction)
#include "tst_ZTOutputTransaction.moc"
