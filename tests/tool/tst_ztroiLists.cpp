// ztroi's lists of inputs: read as they come, so that neither the memory nor the time before
// the first picture grows with their length, from a file or a pipe alike, and without letting an
// output replace an input that comes later in the run.

#include "ZTInputSource.h"
#include "ZTToolTestSupport.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// @p count names of missing pictures, one a line: "N.jpg", or with @p sameName "N/same.jpg".
QByteArray missingPictures(int count, bool sameName = false)
{
    QByteArray list;
    for (int i = 1; i <= count; ++i) {
        list += QByteArray::number(i) + (sameName ? "/same.jpg\n" : ".jpg\n");
    }
    return list;
}

// Starts ztroi and waits up to @p milliseconds for its first line of output; the time it took,
// or -1.
qint64 startAndTimeFirstLine(
    QProcess& process, const QStringList& arguments, const QString& folder, int milliseconds)
{
    QElapsedTimer timer;
    timer.start();
    process.setWorkingDirectory(folder);
    process.start(QStringLiteral(ZTROI_EXECUTABLE), arguments);
    while (!process.canReadLine()) {
        if (timer.elapsed() > milliseconds || !process.waitForReadyRead(milliseconds)) {
            return -1;
        }
    }
    return timer.elapsed();
}

QStringList entriesOf(ZTInputSource& source)
{
    QStringList entries;
    source.rewind();
    for (QString entry; source.next(&entry);) {
        entries.append(entry);
    }
    return entries;
}

} // namespace

class tst_ztroiLists : public QObject
{
    Q_OBJECT

private slots:
    void sourceGivesEntriesInOrder_data();
    void sourceGivesEntriesInOrder();
    void listRewrittenDuringTheRunChangesNothing();
    void longListTakesBoundedMemory();
    void standardInputIsReadAsAFile_data();
    void standardInputIsReadAsAFile();
    void laterInputIsNeverReplaced_data();
    void laterInputIsNeverReplaced();
    void namesBeyondTheBudgetFailTheRun();
    void signalDuringALongListIsHonoured();
};

void tst_ztroiLists::sourceGivesEntriesInOrder_data()
{
    QTest::addColumn<QStringList>("pictures");
    QTest::addColumn<QByteArray>("lines");
    QTest::addColumn<QByteArray>("nulSeparated");
    QTest::addColumn<QStringList>("entries");

    QTest::newRow("nothing") << QStringList() << QByteArray() << QByteArray() << QStringList();
    QTest::newRow("command line first, then the lists in order")
        << QStringList {"c.jpg"} << QByteArray("l1\nl2") << QByteArray("z1\0z2\0", 6)
        << QStringList {"c.jpg", "l1", "l2", "z1", "z2"};
    QTest::newRow("blank lines and carriage returns dropped, spaces kept")
        << QStringList() << QByteArray("\r\n a b \r\n\n   \nx\r\n") << QByteArray()
        << QStringList {" a b ", "x"};
    QTest::newRow("empty NUL entries skipped, newlines kept")
        << QStringList() << QByteArray() << QByteArray("\0\0new\nline\0\0", 12)
        << QStringList {"new\nline"};
}

// Every pass gives the same entries: the command line's, then each list's.
void tst_ztroiLists::sourceGivesEntriesInOrder()
{
    QFETCH(QStringList, pictures);
    QFETCH(QByteArray, lines);
    QFETCH(QByteArray, nulSeparated);
    QFETCH(QStringList, entries);

    QTemporaryDir work;
    const QList<ZTInputList> lists {{writeFile(work.filePath("lines"), lines), '\n'},
        {writeFile(work.filePath("nul"), nulSeparated), '\0'}};
    ZTInputSource source(pictures, lists);
    QStringList visited;
    QString error;
    QVERIFY(source.prepare(
        [&](const QString& input, const QString&) {
            visited.append(input);
            return true;
        },
        &error));
    QCOMPARE(visited, entries);
    QCOMPARE(source.count(), qint64(entries.size()));
    QCOMPARE(entriesOf(source), entries);
    QCOMPARE(entriesOf(source), entries);
    QVERIFY(source.error().isEmpty());
}

// The entries are those read once: a list rewritten between the passes is not read again.
void tst_ztroiLists::listRewrittenDuringTheRunChangesNothing()
{
    QTemporaryDir work;
    const QString list = writeFile(work.filePath("list"), "a.jpg\nb.jpg\n");
    ZTInputSource source({}, {{list, '\n'}});
    QString error;
    QVERIFY(source.prepare({}, &error));
    writeFile(list, missingPictures(1000));
    QCOMPARE(entriesOf(source), (QStringList {"a.jpg", "b.jpg"}));
}

// Regression: every entry stayed in memory, 2.75 GB for a list of 100 MB. Only the output names
// grow now, within what the run sets aside for them.
void tst_ztroiLists::longListTakesBoundedMemory()
{
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("AddressSanitizer's shadow memory inflates the peak");
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    QSKIP("AddressSanitizer's shadow memory inflates the peak");
#endif
#endif
    QTemporaryDir work;
    writeFile(work.filePath("short"), missingPictures(1000));
    writeFile(work.filePath("long"), missingPictures(200000));
    const QStringList options {"--no-map", "--json", "--quiet", "--jobs", "2", "--list"};
    const qint64 shortPeak = peakMemoryOf(options + QStringList {"short"}, work.path(), 120);
    const qint64 longPeak = peakMemoryOf(options + QStringList {"long"}, work.path(), 120);
    QVERIFY(shortPeak > 0 && longPeak > 0);
    const qint64 growth = longPeak - shortPeak;
    qInfo("peak memory: %lld KB for 1,000 entries, %lld KB for 200,000", shortPeak >> 10,
        longPeak >> 10);
    QVERIFY2(growth < (20 << 20), qPrintable(QString::number(growth >> 10) + " KB more"));
}

void tst_ztroiLists::standardInputIsReadAsAFile_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QByteArray>("list");

    QTest::newRow("--list") << "--list" << QByteArray("a.jpg\n\nb c.jpg\r\na.jpg\n");
    QTest::newRow("--list0") << "--list0" << QByteArray("a.jpg\0b\nc.jpg\0\0a.jpg", 21);
    QTest::newRow("long --list") << "--list" << missingPictures(70000);
}

// Standard input is read once, yet gives the same run as the file with the same bytes.
void tst_ztroiLists::standardInputIsReadAsAFile()
{
    QFETCH(QString, option);
    QFETCH(QByteArray, list);

    QTemporaryDir work;
    writeFile(work.filePath("list"), list);
    const QStringList options {"--no-map", "--json", "--quiet", "--jobs", "2", option};
    const Run fromFile = ztroi(options + QStringList {"list"}, work.path());
    const Run fromPipe = ztroi(options + QStringList {"-"}, work.path(), list);
    QCOMPARE(fromFile.exitCode, 1);
    QVERIFY(fromFile.out.count('\n') >= 3);
    QCOMPARE(fromPipe.exitCode, fromFile.exitCode);
    QCOMPARE(fromPipe.out, fromFile.out);
    QCOMPARE(fromPipe.err, fromFile.err);
}

void tst_ztroiLists::laterInputIsNeverReplaced_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("standardInput");

    QTest::newRow("both on the command line")
        << QStringList {"d/dog.jpg", "d/dog.salience.png"} << QByteArray();
    QTest::newRow("the later one in a list")
        << QStringList {"d/dog.jpg", "--list", "list"} << QByteArray();
    QTest::newRow("the later one on standard input")
        << QStringList {"d/dog.jpg", "--list", "-"} << QByteArray("d/dog.salience.png\n");
    QTest::newRow("both on standard input, NUL-separated")
        << QStringList {"--list0", "-"} << QByteArray("d/dog.jpg\0d/dog.salience.png\0", 29);
}

// The salience map of d/dog.jpg would take the name of an input that comes after it.
void tst_ztroiLists::laterInputIsNeverReplaced()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, standardInput);

    QTemporaryDir work;
    QVERIFY(QDir(work.path()).mkdir("d"));
    writeFile(work.filePath("d/dog.jpg"), encoded(scene(QSize(120, 80), QPoint(40, 30)), "jpeg"));
    const QByteArray later = encoded(scene(QSize(60, 40), QPoint(20, 20)), "png");
    writeFile(work.filePath("d/dog.salience.png"), later);
    writeFile(work.filePath("list"), "d/dog.salience.png\n");
    const Run run
        = ztroi(QStringList {"--json", "--quiet", "--jobs", "1", "--out", "d"} + arguments,
            work.path(), standardInput);
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains("is an input of this run; ztroi does not replace it"),
        run.err.constData());
    QFile file(work.filePath("d/dog.salience.png"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), later);
}

// The output names are the one thing that grows with a list: past the memory budget, the run
// says so before it starts, instead of growing past it.
void tst_ztroiLists::namesBeyondTheBudgetFailTheRun()
{
    QTemporaryDir work;
    writeFile(work.filePath("list"), missingPictures(20000));
    const Run run = ztroi({"--json", "--quiet", "--memory", "1", "--list", "list"}, work.path());
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(
        run.err.contains("pictures need more than the memory budget (1 MB)"), run.err.constData());
    QVERIFY(run.out.isEmpty());
    QVERIFY(!QFileInfo::exists(work.filePath("ztroi-out")));
}

// Regression: naming 40,000 inputs came before the first picture (85 s for inputs of one name),
// and a signal then went unheeded. The first picture comes at once; the batch stops soon after
// SIGTERM, with its status.
void tst_ztroiLists::signalDuringALongListIsHonoured()
{
    QTemporaryDir work;
    writeFile(work.filePath("list"), missingPictures(200000, true));
    QProcess process;
    const qint64 firstLine = startAndTimeFirstLine(process,
        {"--no-map", "--json", "--quiet", "--jobs", "2", "--list", "list"}, work.path(), 30000);
    qInfo("first picture after %lld ms", firstLine);
    QVERIFY(firstLine >= 0 && firstLine < 10000);
    QElapsedTimer timer;
    timer.start();
    ::kill(pid_t(process.processId()), SIGTERM);
    QVERIFY(process.waitForFinished(10000));
    qInfo("ended %lld ms after SIGTERM", timer.elapsed());
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 128 + SIGTERM);
    QVERIFY(timer.elapsed() < 5000);
}

QTEST_GUILESS_MAIN(tst_ztroiLists)
#include "tst_ztroiLists.moc"
