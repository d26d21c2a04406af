#include "ZTAtomicFile.h"

#include <QtTest>

class tst_ZTAtomicFile : public QObject
{
    Q_OBJECT

private slots:
    void writeImage_data();
    void writeImage();
};

void tst_ZTAtomicFile::writeImage_data()
{
    QTest::addColumn<QString>("name"); // in a folder that holds "previous" under that name
    QTest::addColumn<QImage>("image");
    QTest::addColumn<QByteArray>("start"); // of the file afterwards

    QImage image(7, 5, QImage::Format_ARGB32);
    image.fill(qRgb(30, 60, 90));
    QTest::newRow("png") << "map.png" << image << QByteArray("\x89PNG");
    QTest::newRow("jpg") << "overlay.jpg" << image << QByteArray("\xFF\xD8\xFF");
    QTest::newRow("upper-case suffix") << "MAP.PNG" << image << QByteArray("\x89PNG");
    QTest::newRow("a null image keeps the old file")
        << "map.png" << QImage() << QByteArray("previous");
    QTest::newRow("an unknown format keeps the old file")
        << "map.unknownformat" << image << QByteArray("previous");
    QTest::newRow("missing folder") << "no/such/map.png" << image << QByteArray();
}

// A failed write leaves the previous file whole, and no temporary file is left behind.
void tst_ZTAtomicFile::writeImage()
{
    QFETCH(QString, name);
    QFETCH(QImage, image);
    QFETCH(QByteArray, start);

    QTemporaryDir dir;
    QFile file(dir.filePath(name));
    const bool inFolder = !name.contains('/');
    QVERIFY(!inFolder || (file.open(QIODevice::WriteOnly) && file.write("previous") == 8));
    file.close();
    QString error;
    const bool written = ZTAtomicFile::writeImage(file.fileName(), image, 90, &error);
    QCOMPARE(written, inFolder && start != "previous");
    QVERIFY2(written ? error.isEmpty() : error.startsWith("cannot ") && error.contains(name),
        qPrintable(error));
    QCOMPARE(file.open(QIODevice::ReadOnly), inFolder);
    QVERIFY(file.readAll().startsWith(start));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
        inFolder ? QStringList {name} : QStringList());
}

QTEST_GUILESS_MAIN(tst_ZTAtomicFile)
#include "tst_ZTAtomicFile.moc"
