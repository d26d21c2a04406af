// How ztroi puts files into its output folder: names claimed or replaced by the rules, all or
// nothing per picture, and whole records on streams; and the two steps of a picture, the analysis,
// which writes nothing, and the writing of its files, with the kind of every failure.

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
        struct stat status;
        ::lstat(QFile::encodeName(info.filePath()).constData(), &status);
        QString& entry = entries[info.fileName()];
        if (info.isSymLink()) {
            entry = "link to " + info.symLinkTarget();
        } else if (info.isDir()) {
            entry = "folder";
        } else {
            entry = QString::number(status.st_mode & 07777, 8) + ' '
                + QString::number(status.st_ino) + ' ' + contentOf(info.filePath());
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
    void racingTransactions_data();
    void racingTransactions();
    void writerWritesAllOrNothing_data();
    void writerWritesAllOrNothing();
    void wholeRecords();
};

void tst_ZTOutputTransaction::existingNames_data()
{
    QTest::addColumn<QString>("before");  // what the folder holds when the run starts
    QTest::addColumn<QString>("during");  // what else goes on in the folder
    QTest::addColumn<QString>("written"); // where the file lands; empty when refused
    QTest::addColumn<QString>("reason");  // why it is refused, or why the file's own name stays

    const auto row = [](const char* name, const char* before, const char* during,
                         const char* written, const char* reason = "") {
        QTest::newRow(name) << before << during << written << reason;
    };
    const char* user = "not written by ztroi";
    const char* changed = "changed since ztroi wrote it";
    row("a free name is claimed", "", "", "photo.map.png");
    row("ztroi's own unchanged file is replaced, its permissions kept", "own file", "",
        "photo.map.png");
    row("a user's file stays: the next name", "file", "", "photo-2.map.png", user);
    row("a file put back with ztroi's time stays", "own file replaced alike", "", "photo-2.map.png",
        changed);
    row("an entry longer than read counts as none", "own file, entry over the cap", "",
        "photo-2.map.png", user);
    row("a symbolic link is not written through", "link", "", "", "is a symbolic link");
    row("a hard link to an input stays", "hard link to input", "", "", "is an input of this run");
    row("a file over the size limit", "file", "size limit", "", "(file too large)");
    row("a file put in just before the name is claimed", "", "put in", "photo-2.map.png", user);
    row("a file put in place of ours just before it is replaced", "own file", "put in",
        "photo-2.map.png", changed);
    // Rolling back must not put our old file over the one that took the name since.
    row("a file put in place of ours after it was written", "own file", "put in after",
        "photo.map.png");
}

// Prepares the folder @p out as a row's "before" says, for a run reading @p inputs. The input
// of the file to be written is @p ownInput.
static void prepare(
    const QString& before, const QString& out, const QStringList& inputs, QByteArray& ownInput)
{
    const QString target = out + "/photo.map.png";
    const QString entry = out + "/.ztroi-record/photo.map.png";
    ownInput = "/in/photo.jpg";
    if (before == "file") {
        writeFile(target, "earlier");
    } else if (before.startsWith("own file")) {
        // Of mode 0600, which a file that replaces it keeps.
        const mode_t umask = ::umask(0077);
        ZTOutputFolder folder;
        QVERIFY(folder.open(out, {}));
        ZTOutputTransaction files(folder, ownInput);
        QVERIFY(!files.write("photo", ".map.png", "earlier", nullptr).isEmpty());
        files.commit();
        ::umask(umask);
    } else if (before == "link") {
        QVERIFY(QFile::link("../victim.txt", target));
    } else if (before == "hard link to input") {
        QCOMPARE(::link(QFile::encodeName(inputs.first()), QFile::encodeName(target)), 0);
    }
    if (before == "own file replaced alike") {
        // The same bytes and times in a new file, as a copy or a restore from backup makes.
        struct stat status;
        ::stat(QFile::encodeName(target).constData(), &status);
        QFile::remove(target);
        writeFile(target, "earlier"); // may well take the freed inode number
        const timespec times[2] = {status.st_atim, status.st_mtim};
        ::utimensat(AT_FDCWD, QFile::encodeName(target).constData(), times, 0);
    } else if (before == "own file, entry over the cap") {
        // An entry that tells the truth about the target but for an input of a name long enough
        // to take it one byte over what is read.
        const QByteArray head = contentOf(entry).chopped(ownInput.size());
        ownInput = "/in/" + QByteArray(ZTOutputFolder::maxEntryBytes + 1 - head.size() - 8, 'p')
            + ".jpg";
        writeFile(entry, head + ownInput);
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
    QFETCH(QString, reason);

    const int renames = ZTOutputTransaction::RenameNoReplace | ZTOutputTransaction::RenameExchange;
    for (const int missing : {0, renames, renames | ZTOutputTransaction::HardLinks}) {
        for (const bool keep : {false, true}) {
            QTemporaryDir root;
            const QString out = root.filePath("out");
            const QString target = out + "/photo.map.png";
            QVERIFY(QDir().mkpath(out));
            const QStringList inputs {writeFile(root.filePath("victim.txt"), "victim")};
            QByteArray input;
            prepare(before, out, inputs, input);
            if (QTest::currentTestFailed()) {
                return;
            }
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
                if (during == "put in" && !acted) {
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
            QVERIFY2(
                written.isEmpty() ? why.contains(reason) && why.contains(target) : why.isEmpty(),
                qPrintable(why));
            QCOMPARE(keptBecause, written.isEmpty() ? QString() : reason);
            QCOMPARE(files.write("photo", ".more.png", "more", nullptr), out + "/photo.more.png");
            if (during == "put in after") {
                QFile::rename(target, root.filePath("aside"));
                writeFile(target, "another process");
            }
            QMap<QString, QString> expected = start;
            if (during.startsWith("put in")) {
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
                // A file put back is as much ztroi's as it was.
                QVERIFY(during.startsWith("put in") || writer() == writerBefore);
            }
            QCOMPARE(contents(out), expected);
            QCOMPARE(contents(root.path()).value("victim.txt").section(' ', 2), QString("victim"));
        }
    }
}

void tst_ZTOutputTransaction::racingTransactions_data()
{
    QTest::addColumn<bool>("sameInput");
    QTest::addColumn<bool>("sharedFolder"); // threads of one run, or two runs

    QTest::newRow("two runs, two inputs") << false << false;
    QTest::newRow("two threads, two inputs") << false << true;
    QTest::newRow("two runs, one input") << true << false;
}

// Two writers put files of the same name into one folder at once, over and over: each input keeps
// its own name, however fast the runs follow each other. A writer never replaces the other input's
// file; every file holds one whole write; nothing temporary is left.
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

    const QStringList names = filesIn(dir.path());
    for (const QString& name : names) {
        QVERIFY2(QRegularExpression("^writer [01] round \\d+$")
                     .match(QString::fromUtf8(contentOf(dir.filePath(name))))
                     .hasMatch(),
            qPrintable(name));
    }
    QCOMPARE(filesIn(dir.filePath(".ztroi-record")), names);
    if (!sameInput) {
        QCOMPARE(names, (QStringList {"p%1-2.map.png", "p%1.map.png"}));
        QCOMPARE(contentOf(lastPath[0]), lastData[0]);
        QCOMPARE(contentOf(lastPath[1]), lastData[1]);
    }
}

// A record that does not fit is taken back out of the file, and the reason is given in words. The
// file is opened for appending and its descriptor sits at 0: what is taken back is counted from
// the file's end, not from the descriptor's offset.
void tst_ZTOutputTransaction::wholeRecords()
{
    QTemporaryDir dir;
    const QString path = writeFile(dir.filePath("records"), "first\n");
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND);
    QVERIFY(fd >= 0);
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

void tst_ZTOutputTransaction::writerWritesAllOrNothing_data()
{
    QTest::addColumn<QString>("name"); // of the picture, made from data unless that is empty
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("kind");

    // Analyses that fail (the messages are tst_ZTImageLoader's) and a crop that fails when written.
    const auto row = [](const char* name, const char* file, const QByteArray& data,
                         const char* kind) { QTest::newRow(name) << file << data << kind; };
    row("folder", "folder", {}, "not-a-file");
    row("text", "text.png", "not a picture\n", "unsupported-format");
    row("a crop too large for JPEG", "photo.png", {}, "too-large");
}

// The analysis writes nothing. The writer then writes every file asked for, the salience map
// first. When a later picture of the same name fails, in its analysis or in the writing of one of
// its files, the others are taken back, replaced ones put back, and the report keeps the reason
// and its kind alone.
void tst_ZTOutputTransaction::writerWritesAllOrNothing()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, data);
    QFETCH(QString, kind);

    QTemporaryDir pictures;
    const QString photo = writeFile(
        pictures.filePath("photo.png"), encoded(scene(QSize(160, 120), QPoint(100, 50)), "png"));
    ZTAnalysisSettings settings; // every file: the salience map, the maps, the overlay, a crop
    settings.writeSalienceMap = true;
    settings.writeMaps = true;
    settings.writeOverlay = true;
    settings.writeCrops = true;
    settings.crops = {ZTCropRequest {QStringLiteral("1:1"), 1, 1, QSize()}};
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

    const QString path = pictures.filePath(name);
    if (name == "folder") {
        QVERIFY(QDir(pictures.path()).mkdir(name));
    } else if (!data.isEmpty()) {
        writeFile(path, data);
    } else if (name == "photo.png") {
        settings.crops = {ZTCropRequest {QStringLiteral("70000x10"), 7000, 1, QSize(70000, 10)}};
        settings.cropFormat = QStringLiteral("jpg");
    }
    analysis = ZTPictureAnalyzer(settings).analyze(path);
    ZTOutputWriter(settings, folder).write(analysis, QStringLiteral("photo"));
    QVERIFY(!analysis.report.error.isEmpty());
    QCOMPARE(ZTError::kindName(analysis.report.errorKind), kind);
    QVERIFY(analysis.report.files.isEmpty() && analysis.report.crops.isEmpty());
    QCOMPARE(contents(out.path()), written);
}

QTEST_MAIN(tst_ZTOutputTransaction)
#include "tst_ZTOutputTransaction.moc"
