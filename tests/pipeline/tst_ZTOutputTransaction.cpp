// How ztroi puts files into its output folder: names claimed or replaced by the rules, all or
// nothing per picture, and whole records on streams.

#include "ZTToolTestSupport.h"
#include "output/ZTOutputFolder.h"
#include "output/ZTOutputTransaction.h"
#include "output/ZTStreamWriter.h"

#include <csignal>
#include <fcntl.h>
#include <optional>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// What a folder holds, by name: a file's inode and content, a link's target, or "folder".
QMap<QString, QString> contents(const QString& path)
{
    QMap<QString, QString> entries;
    for (const QFileInfo& info : QDir(path).entryInfoList(
             QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        QFile file(info.filePath());
        struct stat status;
        ::lstat(QFile::encodeName(info.filePath()).constData(), &status);
        QString& entry = entries[info.fileName()];
        if (info.isSymLink()) {
            entry = "link to " + info.symLinkTarget();
        } else if (info.isDir() || !file.open(QIODevice::ReadOnly)) {
            entry = "folder";
        } else {
            entry = QString::number(status.st_ino) + ' ' + file.readAll();
        }
    }
    return entries;
}

// A file-size limit on the test's own process while it is in scope.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &m_saved);
        const rlimit limit {bytes, m_saved.rlim_max};
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
    row("a file removed just before it is replaced", "file", "removed", "photo.map.png");
    row("a file put in just before the name is claimed", "", "put in", "photo-2.map.png");
}

// Whatever the name held, rollback() leaves the folder exactly as it was (the same inodes and
// contents, nothing hidden left over), also after a second file was written, and commit() keeps
// the new files and nothing else. The same holds on file systems without renameat2()'s flags or
// hard links (FAT, exFAT), as the transaction is told to pretend.
void tst_ZTOutputTransaction::existingNames()
{
    QFETCH(QString, before);
    QFETCH(QString, during);
    QFETCH(QString, written);
    QFETCH(QString, error);

    const int renames = ZTOutputTransaction::RenameNoReplace | ZTOutputTransaction::RenameExchange;
    for (const int missing : {0, renames, renames | ZTOutputTransaction::HardLinks}) {
        for (const bool keep : {false, true}) {
            QTemporaryDir root;
            const QString out = root.filePath("out");
            const QString target = out + "/photo.map.png";
            QVERIFY(QDir().mkpath(out));
            QStringList inputs {writeFile(root.filePath("victim.txt"), "victim")};
            if (before == "file" || before == "input") {
                writeFile(target, "earlier");
            } else if (before.endsWith("link")) {
                QVERIFY(QFile::link(before == "link" ? "../victim.txt" : "../created.txt", target));
            } else if (before == "folder") {
                QVERIFY(QDir().mkpath(target));
            } else if (before == "hard link to input") {
                QCOMPARE(::link(QFile::encodeName(inputs.first()), QFile::encodeName(target)), 0);
            }
            if (before.endsWith("input")) {
                inputs.append(target);
            }
            QThread::msleep(20); // a tick of the file system's clock: "earlier" is before the run
            ZTOutputFolder other;
            QVERIFY(during != "another run" || other.open(out, {}));
            ZTOutputFolder folder;
            QVERIFY(folder.open(out, inputs));
            if (during == "file") {
                writeFile(target, "another process");
            }
            const QMap<QString, QString> start = contents(out);

            ZTOutputTransaction files(folder);
            // Another process acts between the look at the name and the taking of it, once.
            bool acted = false;
            files.simulate(missing, [&](const QByteArray&) {
                if (during == "removed" && !acted) {
                    QFile::remove(target);
                } else if (during == "put in" && !acted) {
                    writeFile(target, "another process");
                }
                acted = true;
            });
            QString why;
            std::optional<FileSizeLimit> limit;
            if (during == "size limit") {
                limit.emplace(4);
            }
            const QString path = files.write("photo", ".map.png", "new map", &why);
            limit.reset();
            QCOMPARE(path, written.isEmpty() ? QString() : out + '/' + written);
            QVERIFY2(error.isEmpty() ? why.isEmpty() : why.contains(error) && why.contains(target),
                qPrintable(why));
            QCOMPARE(files.write("photo", ".more.png", "more", nullptr), out + "/photo.more.png");
            QMap<QString, QString> expected = start;
            if (during == "removed") {
                expected.remove("photo.map.png");
            } else if (during == "put in") {
                expected.insert("photo.map.png", contents(out).value("photo.map.png"));
            }
            if (keep) {
                files.commit();
                for (const QString& name : {written, QString("photo.more.png")}) {
                    if (!name.isEmpty()) {
                        expected.insert(name, contents(out).value(name));
                    }
                }
                QVERIFY(written.isEmpty() || expected.value(written).endsWith(" new map"));
            } else {
                files.rollback();
            }
            QCOMPARE(contents(out), expected);
            QCOMPARE(contents(root.path()).value("victim.txt").section(' ', 1), QString("victim"));
            QVERIFY(!QFile::exists(root.filePath("created.txt")));
        }
    }
}

void tst_ZTOutputTransaction::writeImage_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QImage>("image");
    QTest::addColumn<QByteArray>("start"); // of the file afterwards; empty when refused

    const QImage image = scene(QSize(7, 5), QPoint(3, 2));
    QTest::newRow("png") << ".map.png" << image << QByteArray("\x89PNG");
    QTest::newRow("upper-case jpg") << ".OVERLAY.JPG" << image << QByteArray("\xFF\xD8\xFF");
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
    QVERIFY2(path.isEmpty() == error.startsWith("cannot encode " + dir.path() + "/photo"),
        qPrintable(error));
    QFile file(dir.filePath("photo" + suffix));
    QCOMPARE(file.open(QIODevice::ReadOnly) ? file.read(start.size()) : QByteArray(), start);
    QCOMPARE(
        QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), start.isEmpty() ? 0 : 1);
}

void tst_ZTOutputTransaction::wholeRecords_data()
{
    QTest::addColumn<int>("flags");

    QTest::newRow("a file written at its end") << int(O_WRONLY);
    QTest::newRow("a file opened for appending") << int(O_WRONLY | O_APPEND);
}

// A record that does not fit is taken back out of the file (not more: an appending descriptor
// sits at 0), and the reason is given in words.
void tst_ZTOutputTransaction::wholeRecords()
{
    QFETCH(int, flags);

    QTemporaryDir dir;
    const QString path = writeFile(dir.filePath("records"), "first\n");
    const int fd = ::open(QFile::encodeName(path).constData(), flags);
    QVERIFY(fd >= 0);
    ::lseek(fd, 0, flags & O_APPEND ? SEEK_SET : SEEK_END);
    int tooLong = 0;
    int fits = 0;
    {
        const FileSizeLimit limit(16);
        tooLong = ZTStreamWriter::writeRecord(fd, "a record much too long\n");
        fits = ZTStreamWriter::writeRecord(fd, "second\n");
    }
    ::close(fd);
    QCOMPARE(ZTStreamWriter::errorText(tooLong), QString("file too large"));
    QCOMPARE(fits, 0);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("first\nsecond\n"));
}

QTEST_GUILESS_MAIN(tst_ZTOutputTransaction)
#include "tst_ZTOutputTransaction.moc"
