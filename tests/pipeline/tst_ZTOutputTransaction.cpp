// How ztroi puts files into its output folder: names claimed or replaced by the rules, all or
// nothing per picture, and whole records on streams; and the two steps of a picture, the analysis,
// which writes nothing, and the writing of its files, with the kind of every failure.

#include "ZTPictureFiles.h"
#include "ZTToolTestSupport.h"
#include "analysis/ZTOutputWriter.h"
#include "analysis/ZTPictureAnalyzer.h"
#include "output/ZTOutputFolder.h"
#include "output/ZTOutputTransaction.h"
#include "output/ZTStreamWriter.h"

#include <csignal>
#include <fcntl.h>
#include <optional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

QByteArray contentOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// What a folder holds, by name: a file's permissions, inode and content, a link's target, or
// "folder".
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
            entry = QString::number(status.st_mode & 07777, 8) + ' '
                + QString::number(status.st_ino) + ' ' + file.readAll();
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

// Settings that ask for every file: the salience map, the maps, the overlay and a square crop.
ZTAnalysisSettings writingEverything()
{
    ZTAnalysisSettings settings;
    settings.writeSalienceMap = true;
    settings.writeMaps = true;
    settings.writeOverlay = true;
    settings.writeCrops = true;
    settings.crops = {ZTCropRequest {QStringLiteral("1:1"), 1, 1, QSize()}};
    return settings;
}

} // namespace

class tst_ZTOutputTransaction : public QObject
{
    Q_OBJECT

private slots:
    void existingNames_data();
    void existingNames();
    void rerunsTakeTheSameNames();
    void racingTransactions_data();
    void racingTransactions();
    void writerWritesAllOrNothing();
    void errorKinds_data();
    void errorKinds();
    void wholeRecords_data();
    void wholeRecords();
};

void tst_ZTOutputTransaction::existingNames_data()
{
    QTest::addColumn<QString>("before");  // what the folder holds when the run starts
    QTest::addColumn<QString>("during");  // what else goes on in the folder
    QTest::addColumn<QString>("written"); // where the file lands; empty when refused
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("kept"); // why the file's own name stays

    const auto row = [](const char* name, const char* before, const char* during,
                         const char* written, const char* error = "", const char* kept = "") {
        QTest::newRow(name) << before << during << written << error << kept;
    };
    const char* user = "not written by ztroi";
    const char* changed = "changed since ztroi wrote it";
    row("a free name is claimed", "", "", "photo.map.png");
    row("ztroi's own unchanged file is replaced, its permissions kept", "own file", "",
        "photo.map.png");
    row("a user's file stays: the next name", "file", "", "photo-2.map.png", "", user);
    row("a file put back with ztroi's time stays", "own file replaced alike", "", "photo-2.map.png",
        "", changed);
    row("another input's file stays", "other input's file", "", "photo-2.map.png", "",
        "written by ztroi for another input");
    row("a damaged record entry", "own file, damaged entry", "", "photo-2.map.png", "", user);
    row("a record that is a link is not written through", "own file, linked record", "",
        "photo-2.map.png", "", user);
    row("an entry as long as read is read", "own file, entry of the cap", "", "photo.map.png");
    row("an entry longer than read counts as none", "own file, entry over the cap", "",
        "photo-2.map.png", "", user);
    row("a symbolic link is not written through", "link", "", "", "is a symbolic link");
    row("a dangling link does not create its target", "dangling link", "", "",
        "is a symbolic link");
    row("a folder stays", "folder", "", "", "is not a regular file");
    row("a hard link to an input stays", "hard link to input", "", "", "is an input of this run");
    row("an input that is yet to exist is not created", "missing input", "", "",
        "is an input of this run");
    row("a file over the size limit", "file", "size limit", "", "(file too large)");
    row("a file removed just before it is replaced", "own file", "removed", "photo.map.png");
    row("a file put in just before the name is claimed", "", "put in", "photo-2.map.png", "", user);
    row("a file put in place of ours just before it is replaced", "own file", "put in",
        "photo-2.map.png", "", changed);
    // Rolling back must not put our old file over the one that took the name since.
    row("a file put in place of ours after it was written", "own file", "put in after",
        "photo.map.png");
}

// Prepares the folder @p out as a row's "before" says, for a run reading @p inputs. The input
// of the file to be written is @p ownInput.
static void prepare(
    const QString& before, const QString& out, QStringList& inputs, QByteArray& ownInput)
{
    const QString target = out + "/photo.map.png";
    const QString entry = out + "/.ztroi-record/photo.map.png";
    ownInput = "/in/photo.jpg";
    const auto earlierRun = [&](const QByteArray& input, const QString& stem) {
        ZTOutputFolder folder;
        QVERIFY(folder.open(out, {}));
        ZTOutputTransaction files(folder, input);
        QVERIFY(!files.write(stem, ".map.png", "earlier", nullptr).isEmpty());
        files.commit();
    };
    // An entry of exactly @p bytes that tells the truth about the target, for an input of a
    // name long enough: that becomes ownInput.
    const auto entryOf = [&](int bytes) {
        const QByteArray head = contentOf(entry).chopped(ownInput.size());
        ownInput = "/in/" + QByteArray(bytes - head.size() - 8, 'p') + ".jpg";
        return head + ownInput;
    };
    if (before == "file") {
        writeFile(target, "earlier");
    } else if (before.startsWith("own file")) {
        // Of mode 0600, which a file that replaces it keeps.
        const mode_t umask = ::umask(0077);
        earlierRun(ownInput, "photo");
        ::umask(umask);
    } else if (before == "other input's file") {
        earlierRun("/in/other/photo.jpg", "photo");
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
    if (before == "own file replaced alike") {
        // The same bytes and times in a new file, as a copy or a restore from backup makes.
        struct stat status;
        ::stat(QFile::encodeName(target).constData(), &status);
        QFile::remove(target);
        writeFile(target, "earlier"); // may well take the freed inode number
        const timespec times[2] = {status.st_atim, status.st_mtim};
        ::utimensat(AT_FDCWD, QFile::encodeName(target).constData(), times, 0);
    } else if (before == "own file, damaged entry") {
        writeFile(entry, "ztroi-record 1\n12 x\n/in/photo.jpg");
    } else if (before == "own file, linked record") {
        QVERIFY(QFile::rename(out + "/.ztroi-record", out + "/../record"));
        QVERIFY(QFile::link("../record", out + "/.ztroi-record"));
    } else if (before == "own file, entry of the cap") {
        writeFile(entry, entryOf(ZTOutputFolder::maxEntryBytes));
    } else if (before == "own file, entry over the cap") {
        writeFile(entry, entryOf(ZTOutputFolder::maxEntryBytes + 1));
    }
}

// Whatever the name held, rollback() leaves the folder exactly as it was (the same inodes and
// contents, nothing hidden left over, a file put back still known as ztroi's when it was), also
// after a second file was written, and commit() keeps the new files and nothing else. The same
// holds on file systems without renameat2()'s flags or hard links (FAT, exFAT), as the transaction
// is told to pretend.
void tst_ZTOutputTransaction::existingNames()
{
    QFETCH(QString, before);
    QFETCH(QString, during);
    QFETCH(QString, written);
    QFETCH(QString, error);
    QFETCH(QString, kept);

    const int renames = ZTOutputTransaction::RenameNoReplace | ZTOutputTransaction::RenameExchange;
    for (const int missing : {0, renames, renames | ZTOutputTransaction::HardLinks}) {
        for (const bool keep : {false, true}) {
            QTemporaryDir root;
            const QString out = root.filePath("out");
            const QString target = out + "/photo.map.png";
            QVERIFY(QDir().mkpath(out));
            QStringList inputs {writeFile(root.filePath("victim.txt"), "victim")};
            QByteArray input;
            prepare(before, out, inputs, input);
            if (QTest::currentTestFailed()) {
                return;
            }
            const QMap<QString, QString> aside = contents(root.filePath("record"));
            ZTOutputFolder folder;
            QVERIFY(folder.open(out, inputs));
            const QMap<QString, QString> start = contents(out);
            // What the record says of the file under the name, if any.
            const auto writer = [&] {
                struct stat status;
                return ::lstat(QFile::encodeName(target).constData(), &status) == 0
                    ? int(folder.writerOf("photo.map.png", status, input))
                    : -1;
            };
            const int writerBefore = writer();

            ZTOutputTransaction files(folder, input);
            // Another process acts between the look at the name and the taking of it, once.
            bool acted = false;
            files.simulate(missing, [&](const QByteArray&) {
                if (during == "removed" && !acted) {
                    QFile::remove(target);
                } else if (during == "put in" && !acted) {
                    // Moved aside rather than removed, so that the new file cannot reuse its
                    // inode number.
                    QFile::rename(target, root.filePath("aside"));
                    writeFile(target, "another process");
                }
                acted = true;
            });
            QString why;
            QString keptBecause = "stale";
            std::optional<FileSizeLimit> limit;
            if (during == "size limit") {
                limit.emplace(4);
            }
            const QString path = files.write("photo", ".map.png", "new map", &why, &keptBecause);
            limit.reset();
            QCOMPARE(path, written.isEmpty() ? QString() : out + '/' + written);
            QVERIFY2(error.isEmpty() ? why.isEmpty() : why.contains(error) && why.contains(target),
                qPrintable(why));
            QCOMPARE(keptBecause, kept);
            QCOMPARE(files.write("photo", ".more.png", "more", nullptr), out + "/photo.more.png");
            if (during == "put in after") {
                QFile::rename(target, root.filePath("aside"));
                writeFile(target, "another process");
            }
            QMap<QString, QString> expected = start;
            if (during == "removed") {
                expected.remove("photo.map.png");
            } else if (during.startsWith("put in")) {
                expected.insert("photo.map.png", contents(out).value("photo.map.png"));
            }
            if (keep) {
                files.commit();
                for (const QString& name : {written, QString("photo.more.png")}) {
                    if (!name.isEmpty()) {
                        expected.insert(name, contents(out).value(name));
                    }
                }
                // Ours, unless another took the name after; a replaced file's permissions kept.
                if (!written.isEmpty() && during != "put in after") {
                    QVERIFY(expected.value(written).endsWith(" new map"));
                    QCOMPARE(expected.value(written).section(' ', 0, 0),
                        start.value(written, expected.value(written)).section(' ', 0, 0));
                }
                // The record knows the file under the name as this input's only when it is ours.
                QCOMPARE(writer() == int(ZTOutputFolder::Writer::ThisInput),
                    written == "photo.map.png" && during != "put in after");
            } else {
                files.rollback();
                // A file put back is as much ztroi's as it was (unless its new entry no longer
                // fits the cap, as the change time may take a digit more).
                QVERIFY(during == "removed" || during.startsWith("put in")
                    || before == "own file, entry of the cap" || writer() == writerBefore);
            }
            QCOMPARE(contents(out), expected);
            QCOMPARE(contents(root.path()).value("victim.txt").section(' ', 2), QString("victim"));
            QCOMPARE(contents(root.filePath("record")), aside); // a linked record is not written
            QVERIFY(!QFile::exists(root.filePath("created.txt")));
        }
    }
}

// Re-running the same inputs, of one base name, updates their own files, however fast the runs
// follow each other: nothing depends on the clock.
void tst_ZTOutputTransaction::rerunsTakeTheSameNames()
{
    const QStringList inputs {"/a/photo.jpg", "/b/photo.jpg", "/c/photo.jpg"};
    QStringList names {"photo.map.png", "photo-2.map.png", "photo-3.map.png"};
    QTemporaryDir dir;
    for (int round = 0; round < 20; ++round) {
        for (int i = 0; i < inputs.size(); ++i) {
            ZTOutputFolder folder;
            QVERIFY(folder.open(dir.path(), {}));
            ZTOutputTransaction files(folder, inputs.at(i).toUtf8());
            const QByteArray data = QByteArray::number(round) + inputs.at(i).toUtf8();
            QCOMPARE(
                files.write("photo", ".map.png", data, nullptr), dir.path() + '/' + names.at(i));
            files.commit();
        }
    }
    names.sort();
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), names);
}

void tst_ZTOutputTransaction::racingTransactions_data()
{
    QTest::addColumn<bool>("sameInput");
    QTest::addColumn<bool>("sharedFolder"); // threads of one run, or two runs

    QTest::newRow("two runs, two inputs") << false << false;
    QTest::newRow("two threads, two inputs") << false << true;
    QTest::newRow("two runs, one input") << true << false;
}

// Two writers put files of the same name into one folder at once, over and over. A writer never
// replaces the other input's file; every file holds one whole write; nothing temporary is left.
// The name holds "%1", which a run once expanded when it numbered a taken name ("p2-.map.png%3").
void tst_ZTOutputTransaction::racingTransactions()
{
    QFETCH(bool, sameInput);
    QFETCH(bool, sharedFolder);

    QTemporaryDir dir;
    ZTOutputFolder shared;
    QVERIFY(shared.open(dir.path(), {}));
    constexpr int rounds = 200;
    QString lastPath[2];
    QByteArray lastData[2];
    const auto writer = [&](int id) {
        ZTOutputFolder own;
        own.open(dir.path(), {});
        const ZTOutputFolder& folder = sharedFolder ? shared : own;
        const QByteArray input = sameInput ? "/in/photo.jpg" : "/in/" + QByteArray::number(id);
        for (int round = 0; round < rounds; ++round) {
            ZTOutputTransaction files(folder, input);
            lastData[id]
                = "writer " + QByteArray::number(id) + " round " + QByteArray::number(round);
            lastPath[id] = files.write("p%1", ".map.png", lastData[id], nullptr);
            files.commit();
        }
    };
    std::thread first(writer, 0);
    std::thread second(writer, 1);
    first.join();
    second.join();

    const QStringList names = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
    for (const QString& name : names) {
        QVERIFY2(QRegularExpression("^writer [01] round \\d+$")
                     .match(QString::fromUtf8(contentOf(dir.filePath(name))))
                     .hasMatch(),
            qPrintable(name));
    }
    const QStringList entries
        = QDir(dir.filePath(".ztroi-record")).entryList(QDir::Files | QDir::Hidden);
    QCOMPARE(entries, names);
    if (!sameInput) {
        QCOMPARE(names, (QStringList {"p%1-2.map.png", "p%1.map.png"}));
        QCOMPARE(contentOf(lastPath[0]), lastData[0]);
        QCOMPARE(contentOf(lastPath[1]), lastData[1]);
    }
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
    QCOMPARE(contentOf(path), QByteArray("first\nsecond\n"));
}

// The analysis writes nothing. The writer then writes every file asked for, the salience map
// first; when one of them fails, it takes back the others, replaced ones put back, and the report
// keeps the reason alone.
void tst_ZTOutputTransaction::writerWritesAllOrNothing()
{
    QTemporaryDir pictures;
    const QString photo = writeFile(
        pictures.filePath("photo.png"), encoded(scene(QSize(160, 120), QPoint(100, 50)), "png"));
    ZTAnalysisSettings settings = writingEverything();
    ZTPictureAnalysis analysis = ZTPictureAnalyzer(settings).analyze(photo);
    QVERIFY2(analysis.report.ok(), qPrintable(analysis.report.error));
    QVERIFY(analysis.report.files.isEmpty());
    QCOMPARE(filesIn(pictures.path()), QStringList {"photo.png"});

    QTemporaryDir out;
    ZTOutputFolder folder;
    QVERIFY(folder.open(out.path(), {photo}));
    ZTOutputWriter(settings, folder).write(analysis, QStringLiteral("photo"));
    QCOMPARE(analysis.report.errorKind, ZTError::Kind::None);
    QStringList kinds;
    for (const ZTOutputFile& file : analysis.report.files) {
        kinds.append(file.kind);
        QVERIFY2(QFileInfo(file.path).isFile(), qPrintable(file.path));
    }
    QCOMPARE(kinds.first(), QStringLiteral("salience"));
    QCOMPARE(kinds.size(), 1 + analysis.maps.size() + 2);
    QVERIFY(kinds.contains("overlay") && kinds.contains("crop-1x1"));
    const QMap<QString, QString> written = contents(out.path());

    settings.crops = {ZTCropRequest {QStringLiteral("70000x10"), 7000, 1, QSize(70000, 10)}};
    settings.cropFormat = QStringLiteral("jpg");
    analysis = ZTPictureAnalyzer(settings).analyze(photo);
    ZTOutputWriter(settings, folder).write(analysis, QStringLiteral("photo"));
    QCOMPARE(analysis.report.errorKind, ZTError::Kind::TooLarge);
    QVERIFY(analysis.report.files.isEmpty() && analysis.report.crops.isEmpty());
    QCOMPARE(contents(out.path()), written);
}

void tst_ZTOutputTransaction::errorKinds_data()
{
    QTest::addColumn<QString>("name"); // of the file made; none for "missing"
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("kind");

    // The messages are tst_ZTImageLoader's; the picture limit is 100 pixels.
    const QByteArray png = encoded(scene(QSize(160, 120), QPoint(100, 50)), "png");
    QTest::newRow("missing file") << "" << QByteArray() << "not-found";
    QTest::newRow("folder") << "folder" << QByteArray() << "not-a-file";
    QTest::newRow("text") << "text.png" << QByteArray("not a picture\n") << "unsupported-format";
    QTest::newRow("no pixels") << "none.png" << ZTPictureFiles::pngClaiming(0, 120) << "damaged";
    QTest::newRow("too many pixels") << "large.png" << png << "too-large";
}

// A failed analysis gives its kind beside the message, and the writer then writes nothing.
void tst_ZTOutputTransaction::errorKinds()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, data);
    QFETCH(QString, kind);

    QTemporaryDir work;
    const QString path = work.filePath(name.isEmpty() ? QStringLiteral("missing.png") : name);
    if (name == "folder") {
        QVERIFY(QDir(work.path()).mkdir(name));
    } else if (!name.isEmpty()) {
        writeFile(path, data);
    }
    ZTAnalysisSettings settings = writingEverything();
    settings.maxPixels = 100;
    ZTPictureAnalysis analysis = ZTPictureAnalyzer(settings).analyze(path);
    QTemporaryDir out;
    ZTOutputFolder folder;
    QVERIFY(folder.open(out.path(), {}));
    ZTOutputWriter(settings, folder).write(analysis, QStringLiteral("photo"));
    QVERIFY(filesIn(out.path()).isEmpty());
    QVERIFY(!analysis.report.error.isEmpty());
    QCOMPARE(ZTError::kindName(analysis.report.errorKind), kind);
}

QTEST_MAIN(tst_ZTOutputTransaction)
#include "tst_ZTOutputTransaction.moc"
