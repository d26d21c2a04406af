#include "ZTAtomicFile.h"

#include <QtTest>

class tst_ZTAtomicFile : public QObject
{
    Q_OBJECT

private slots:
    void writesTheFormatOfTheSuffix_data();
    void writesTheFormatOfTheSuffix();
    void failedWriteKeepsTheOldFile();
    void missingFolderFails();
};

void tst_ZTAtomicFile::writesTheFormatOfTheSuffix_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("magic");

    QTest::newRow("png") << "map.png" << QByteArray("\x89PNG");
    QTest::newRow("jpg") << "overlay.jpg" << QByteArray("\xFF\xD8\xFF");
    QTest::newRow("upper-case suffix") << "MAP.PNG" << QByteArray("\x89PNG");
}

void tst_ZTAtomicFile::writesTheFormatOfTheSuffix()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, magic);

    QTemporaryDir dir;
    QImage image(7, 5, QImage::Format_ARGB32);
    image.fill(qRgb(30, 60, 90));
    const QString path = dir.filePath(name);
    QVERIFY(ZTAtomicFile::writeImage(path, image, 90));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().startsWith(magic));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList {name});
}

// An image that cannot be encoded must leave the previous file whole, with no temporary file.
void tst_ZTAtomicFile::failedWriteKeepsTheOldFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("map.png"));
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("previous contents");
    old.close();

    QString error;
    QVERIFY(!ZTAtomicFile::writeImage(path, QImage(), -1, &error));
    QVERIFY2(error.contains(path), qPrintable(error));
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), QByteArray("previous contents"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList {"map.png"});
}

void tst_ZTAtomicFile::missingFolderFails()
{
    QTemporaryDir dir;
    QImage image(2, 2, QImage::Format_ARGB32);
    image.fill(Qt::white);
    QString error;
    QVERIFY(!ZTAtomicFile::writeImage(dir.filePath("no/such/folder/map.png"), image, -1, &error));
    QVERIFY(error.startsWith(QLatin1String("cannot write")));
    QVERIFY(!ZTAtomicFile::writeImage(dir.filePath("map.unknownformat"), image));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
}

QTEST_GUILESS_MAIN(tst_ZTAtomicFile)
#include "tst_ZTAtomicFile.moc"
