// ztroi among broken files: every file that cannot be analysed is reported with a reason that
// names what is wrong with it, the pictures around it are analysed completely, and nothing of a
// broken file (not even a temporary file) is left in the output folder.

#include <QBuffer>
#include <QDir>
#include <QImageWriter>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

namespace {

struct Run
{
    int exitCode = -1;
    QList<QJsonObject> reports;
    QString errors; // standard error
};

Run ztroi(const QStringList& arguments, const QString& workingDirectory)
{
    QProcess process;
    process.setWorkingDirectory(workingDirectory);
    process.start(QStringLiteral(ZTROI_EXECUTABLE), arguments);
    process.closeWriteChannel();
    if (!process.waitForFinished(120000)) {
        qFatal("%s did not finish", ZTROI_EXECUTABLE);
    }
    Run run;
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    for (const QByteArray& line : process.readAllStandardOutput().split('\n')) {
        if (!line.isEmpty()) {
            run.reports.append(QJsonDocument::fromJson(line).object());
        }
    }
    run.errors = QString::fromUtf8(process.readAllStandardError());
    return run;
}

QByteArray encoded(const QImage& image, const char* format, int quality = -1)
{
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(quality);
    if (!writer.write(image)) {
        qFatal("cannot encode %s", format);
    }
    return data;
}

// A picture with something to find: a colour gradient with a bright disc.
QImage scene(const QSize& size)
{
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            const int dx = x - size.width() / 3;
            const int dy = y - size.height() / 2;
            image.setPixel(
                x, y, dx * dx + dy * dy < 200 ? qRgb(240, 220, 30) : qRgb(x % 256, 90, y % 256));
        }
    }
    return image;
}

quint32 crc32(const QByteArray& data)
{
    quint32 crc = 0xFFFFFFFFu;
    for (const char c : data) {
        crc ^= quint8(c);
        for (int k = 0; k < 8; ++k) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

QByteArray bigEndian(quint32 value)
{
    const char bytes[] = {char(value >> 24), char(value >> 16), char(value >> 8), char(value)};
    return QByteArray(bytes, sizeof bytes);
}

// @p png with a header that claims @p side x @p side pixels, its checksum corrected, so that
// only the size gives it away.
QByteArray claimingSize(QByteArray png, quint32 side)
{
    constexpr int headerChunk = 12;      // after the signature and the chunk length
    constexpr int headerChunkBytes = 17; // "IHDR" and 13 bytes of data
    png.replace(headerChunk + 4, 8, bigEndian(side) + bigEndian(side));
    png.replace(headerChunk + headerChunkBytes, 4,
        bigEndian(crc32(png.mid(headerChunk, headerChunkBytes))));
    return png;
}

bool writeFile(const QString& path, const QByteArray& data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

// The files that ztroi writes for an analysed picture with --maps and --overlay.
QStringList outputsOf(const QString& name)
{
    QStringList files;
    for (const char* kind : {"center.png", "contrast.png", "histogram.png", "overlay.jpg",
             "salience.png", "sobel.png"}) {
        files.append(QStringLiteral("%1.%2").arg(name, QLatin1String(kind)));
    }
    return files;
}

} // namespace

class tst_ztroiMalformedFiles : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void brokenFileAmongGoodOnes_data();
    void brokenFileAmongGoodOnes();
    void batchOfBrokenFiles_data();
    void batchOfBrokenFiles();

private:
    QString path(const QString& name) const { return m_folder.filePath(name); }

    QTemporaryDir m_folder;
};

void tst_ztroiMalformedFiles::initTestCase()
{
    QVERIFY(m_folder.isValid());
    const QByteArray png = encoded(scene(QSize(160, 120)), "png");
    const QByteArray jpeg = encoded(scene(QSize(257, 193)), "jpeg", 85);
    QVERIFY(writeFile(path("first.png"), png));
    QVERIFY(writeFile(path("last.jpg"), jpeg));
    QVERIFY(writeFile(path("truncated.jpg"), jpeg.left(jpeg.size() * 2 / 3)));
    QVERIFY(writeFile(path("truncated.png"), png.left(png.size() / 2)));
    QVERIFY(writeFile(path("huge.png"), claimingSize(png, 100000)));
    QVERIFY(writeFile(path("empty.jpg"), QByteArray()));
    QVERIFY(writeFile(path("text.jpg"), "Not a picture: a note saved under the wrong name.\n"));
    QVERIFY(QDir(m_folder.path()).mkdir("folder.png"));
}

void tst_ztroiMalformedFiles::brokenFileAmongGoodOnes_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("reasonWord");

    QTest::newRow("truncated JPEG") << "truncated.jpg"
                                    << "truncated";
    QTest::newRow("truncated PNG") << "truncated.png"
                                   << "truncated";
    QTest::newRow("header claims 100000x100000 pixels") << "huge.png"
                                                        << "too large";
    QTest::newRow("zero-byte file") << "empty.jpg"
                                    << "empty";
    QTest::newRow("text file named .jpg") << "text.jpg"
                                          << "not a picture";
    QTest::newRow("directory") << "folder.png"
                               << "directory";
    QTest::newRow("missing file") << "missing.png"
                                  << "no such file";
}

// The broken file between two good ones, with every output asked for.
void tst_ztroiMalformedFiles::brokenFileAmongGoodOnes()
{
    QFETCH(QString, file);
    QFETCH(QString, reasonWord);

    const QString out = path("out-" + file);
    const QStringList inputs {path("first.png"), path(file), path("last.jpg")};
    const Run run = ztroi(
        QStringList {"--json", "--quiet", "--maps", "--overlay", "--crop", "16:9", "--out", out}
            + inputs,
        m_folder.path());
    QCOMPARE(run.exitCode, 1);

    QCOMPARE(run.reports.size(), 3);
    QVERIFY(!run.reports.at(0).contains("error"));
    QVERIFY(!run.reports.at(2).contains("error"));
    const QString reason = run.reports.at(1).value("error").toString();
    QVERIFY2(reason.contains(reasonWord, Qt::CaseInsensitive), qPrintable(reason));
    QVERIFY(!run.reports.at(1).contains("files"));

    // ztroi's own report on standard error: exactly one line, naming the file and the reason.
    // libpng prints "libpng error: ..." there itself, in two writes from the decoding thread,
    // so ztroi's line may land between them: it is looked for in the text, not as a line.
    QCOMPARE(run.errors.count(QLatin1String("ztroi: ")), 1);
    QVERIFY2(run.errors.contains("ztroi: " + inputs.at(1) + ": " + reason + "\n"),
        qPrintable(run.errors));

    // Everything of the good pictures, nothing else: no file of the broken one, no temporary.
    QStringList expected = outputsOf("first") + outputsOf("last");
    QStringList written = QDir(out).entryList(QDir::Files | QDir::Hidden | QDir::System);
    expected.sort();
    written.sort();
    QCOMPARE(written, expected);
}

void tst_ztroiMalformedFiles::batchOfBrokenFiles_data()
{
    QTest::addColumn<QString>("jobs");
    QTest::newRow("one job") << "1";
    QTest::newRow("three jobs") << "3";
}

// All broken files in one batch, analysed in parallel or not: each is reported, in input order.
void tst_ztroiMalformedFiles::batchOfBrokenFiles()
{
    QFETCH(QString, jobs);

    const QStringList broken {"truncated.jpg", "truncated.png", "huge.png", "empty.jpg", "text.jpg",
        "folder.png", "missing.png"};
    QStringList inputs {path("first.png")};
    for (const QString& name : broken) {
        inputs.append(path(name));
    }
    inputs.append(path("last.jpg"));
    const QString out = path("batch-" + jobs);
    const Run run = ztroi(
        QStringList {"--json", "--quiet", "--jobs", jobs, "--out", out} + inputs, m_folder.path());
    QCOMPARE(run.exitCode, 1);

    QCOMPARE(run.reports.size(), inputs.size());
    for (int i = 0; i < inputs.size(); ++i) {
        const QJsonObject& report = run.reports.at(i);
        QCOMPARE(report.value("input").toString(), inputs.at(i));
        const bool good = i == 0 || i == inputs.size() - 1;
        QCOMPARE(report.contains("error"), !good);
        if (!good) {
            QVERIFY2(run.errors.contains(
                         "ztroi: " + inputs.at(i) + ": " + report.value("error").toString() + "\n"),
                qPrintable(run.errors));
        }
    }
    QCOMPARE(run.errors.count(QLatin1String("ztroi: ")), broken.size());
    QStringList written = QDir(out).entryList(QDir::Files | QDir::Hidden | QDir::System);
    written.sort();
    QCOMPARE(written, (QStringList {"first.salience.png", "last.salience.png"}));
}

QTEST_GUILESS_MAIN(tst_ztroiMalformedFiles)
#include "tst_ztroiMalformedFiles.moc"
