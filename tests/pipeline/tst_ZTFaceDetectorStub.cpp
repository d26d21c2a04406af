// The face detector of a build without OpenCV: it never loads, says why, and finds nothing.

#include "faces/ZTFaceDetector.h"

#include <QtTest>

class tst_ZTFaceDetectorStub : public QObject
{
    Q_OBJECT

private slots:
    void saysThereIsNoDetection();
};

void tst_ZTFaceDetectorStub::saysThereIsNoDetection()
{
    QVERIFY(!ZTFaceDetector::isBuiltIn());
    ZTFaceDetector detector;
    QVERIFY(!detector.load());
    QVERIFY(detector.errorString().contains("no face detection"));
    QImage picture(64, 64, QImage::Format_RGB32);
    picture.fill(Qt::white);
    QCOMPARE(detector.detect(picture), QList<QRect>());
}

QTEST_GUILESS_MAIN(tst_ZTFaceDetectorStub)
#include "tst_ZTFaceDetectorStub.moc"
