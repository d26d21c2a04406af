// The two steps of a picture: the analysis, which writes nothing, and the writing of its files,
// all or none; and the kind that every failure carries into the JSON record.

#include "ZTPictureFiles.h"
#include "ZTToolTestSupport.h"
#include "analysis/ZTOutputWriter.h"
#include "analysis/ZTPictureAnalyzer.h"
#include "output/ZTOutputFolder.h"
#include "report/ZTReportFormatter.h"

#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

class tst_ZTOutputWriter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void analysisWritesNothing();
    void writingListsTheFiles();
    void failedWriteTakesBackTheFiles();
    void errorKinds_data();
    void errorKinds();

private:
    ZTAnalysisSettings writingEverything() const;

    QTemporaryDir m_pictures;
    QString m_photo;
};

void tst_ZTOutputWriter::initTestCase()
{
    QVERIFY(m_pictures.isValid());
    m_photo = writeFile(
        m_pictures.filePath("photo.png"), encoded(scene(QSize(160, 120), QPoint(100, 50)), "png"));
}

ZTAnalysisSettings tst_ZTOutputWriter::writingEverything() const
{
    ZTAnalysisSettings settings;
    settings.writeSalienceMap = true;
    settings.writeMaps = true;
    settings.writeOverlay = true;
    settings.writeCrops = true;
    ZTCropRequest square;
    square.text = QStringLiteral("1:1");
    square.aspectWidth = 1;
    square.aspectHeight = 1;
    settings.crops = {square};
    return settings;
}

void tst_ZTOutputWriter::analysisWritesNothing()
{
    QTemporaryDir out;
    ZTPictureAnalyzer analyzer(writingEverything());
    const ZTPictureAnalysis analysis = analyzer.analyze(m_photo);
    QVERIFY2(analysis.report.ok(), qPrintable(analysis.report.error));
    QVERIFY(analysis.report.files.isEmpty());
    QVERIFY(!analysis.salience.isNull());
    QCOMPARE(analysis.maps.size(), analysis.mapMethods.size());
    QCOMPARE(QDir(out.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
        QStringList());
    QCOMPARE(filesIn(m_pictures.path()), QStringList {"photo.png"});
}

// Every file that the settings ask for, in the report's order, with the salience map first.
void tst_ZTOutputWriter::writingListsTheFiles()
{
    QTemporaryDir out;
    ZTOutputFolder folder;
    QVERIFY(folder.open(out.path(), {m_photo}));
    const ZTAnalysisSettings settings = writingEverything();
    ZTPictureAnalysis analysis = ZTPictureAnalyzer(settings).analyze(m_photo);
    ZTOutputWriter(settings, folder).write(analysis, QStringLiteral("photo"));
    QVERIFY2(analysis.report.ok(), qPrintable(analysis.report.error));
    QStringList kinds;
    for (const ZTOutputFile& file : analysis.report.files) {
        kinds.append(file.kind);
        QVERIFY2(QFileInfo(file.path).isFile(), qPrintable(file.path));
    }
    QCOMPARE(kinds.first(), QStringLiteral("salience"));
    QCOMPARE(kinds.size(), 1 + analysis.maps.size() + 2);
    QVERIFY(kinds.contains("overlay") && kinds.contains("crop-1x1"));
    QCOMPARE(analysis.report.errorKind, ZTError::Kind::None);
}

// A crop that cannot be written takes back the maps written before it; the report keeps the
// reason alone.
void tst_ZTOutputWriter::failedWriteTakesBackTheFiles()
{
    QTemporaryDir out;
    ZTOutputFolder folder;
    QVERIFY(folder.open(out.path(), {m_photo}));
    ZTAnalysisSettings settings = writingEverything();
    settings.crops.first().text = QStringLiteral("70000x10");
    settings.crops.first().aspectWidth = 7000;
    settings.crops.first().aspectHeight = 1;
    settings.crops.first().outputSize = QSize(70000, 10);
    settings.cropFormat = QStringLiteral("jpg");
    ZTPictureAnalysis analysis = ZTPictureAnalyzer(settings).analyze(m_photo);
    QVERIFY2(analysis.report.ok(), qPrintable(analysis.report.error));
    ZTOutputWriter(settings, folder).write(analysis, QStringLiteral("photo"));
    QCOMPARE(analysis.report.errorKind, ZTError::Kind::TooLarge);
    QVERIFY(analysis.report.files.isEmpty() && analysis.report.crops.isEmpty());
    QCOMPARE(filesIn(out.path()), QStringList());
}

void tst_ZTOutputWriter::errorKinds_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<qint64>("maxPixels");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("message"); // its start

    const QByteArray png = encoded(scene(QSize(160, 120), QPoint(100, 50)), "png");
    const auto row = [](const char* name, const char* file, const QByteArray& data,
                         qint64 maxPixels, const char* kind, const char* message) {
        QTest::newRow(name) << file << data << maxPixels << kind << message;
    };
    const qint64 unlimited = ZTAnalysisSettings().maxPixels;
    row("missing file", "", {}, unlimited, "not-found", "no such file");
    row("folder", "folder", {}, unlimited, "not-a-file", "is a directory");
    row("text", "text.png", "not a picture\n", unlimited, "unsupported-format", "not a picture");
    row("empty", "empty.png", {}, unlimited, "damaged", "empty file");
    row("truncated", "truncated.png", png.left(png.size() / 2), unlimited, "damaged",
        "truncated picture data");
    row("no pixels", "none.png", ZTPictureFiles::pngClaiming(0, 120), unlimited, "damaged",
        "the picture has no pixels (0x120)");
    row("too many pixels", "large.png", png, 100, "too-large",
        "the picture is too large (160x120, more than 100 pixels)");
}

// A failed analysis writes nothing; its kind reaches the JSON record beside the message.
void tst_ZTOutputWriter::errorKinds()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, data);
    QFETCH(qint64, maxPixels);
    QFETCH(QString, kind);
    QFETCH(QString, message);

    QTemporaryDir work;
    QString path = work.filePath(name.isEmpty() ? QStringLiteral("missing.png") : name);
    if (name == "folder") {
        QVERIFY(QDir(work.path()).mkdir(name));
    } else if (!name.isEmpty()) {
        writeFile(path, data);
    }
    ZTAnalysisSettings settings = writingEverything();
    settings.maxPixels = maxPixels;
    ZTPictureAnalysis analysis = ZTPictureAnalyzer(settings).analyze(path);
    // A failed analysis writes nothing.
    QTemporaryDir out;
    ZTOutputFolder folder;
    QVERIFY(folder.open(out.path(), {}));
    ZTOutputWriter(settings, folder).write(analysis, QStringLiteral("photo"));
    QVERIFY(filesIn(out.path()).isEmpty());
    const ZTPictureReport& report = analysis.report;
    QVERIFY(!report.ok());
    QCOMPARE(ZTError::kindName(report.errorKind), kind);
    const QJsonObject json = ZTReportFormatter::toJson(report);
    QCOMPARE(json.keys(), (QStringList {"error", "input", "version"}));
    const QJsonObject error = json["error"].toObject();
    QCOMPARE(error.keys(), (QStringList {"kind", "message"}));
    QCOMPARE(error["kind"].toString(), kind);
    QCOMPARE(error["message"].toString(), report.error);
    QVERIFY2(report.error.startsWith(message), qPrintable(report.error));
}

QTEST_MAIN(tst_ZTOutputWriter)
#include "tst_ZTOutputWriter.moc"
