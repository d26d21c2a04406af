#include "ZTAbstractROI.h"
#include "ZTImageTestSupport.h"

#include <QtTest>

using namespace ZTImageTest;

namespace {

// The smallest concrete method.
class EmptyROI : public ZTAbstractROI
{
public:
    QImage evaluate(const QImage& image) override { return createTargetImage(image); }
};

} // namespace

class tst_ZTAbstractROI : public QObject
{
    Q_OBJECT

private slots:
    // A fresh method is enabled with weight 0; the weight is stored unchanged.
    void settings()
    {
        EmptyROI method;
        QCOMPARE(qMakePair(method.isEnabled(), method.weight()), qMakePair(true, 0));
        method.setEnabled(false);
        method.setWeight(-10);
        QCOMPARE(qMakePair(method.isEnabled(), method.weight()), qMakePair(false, -10));
    }

    void images_data()
    {
        QTest::addColumn<QImage>("image");
        QTest::addColumn<QImage>("adjusted");
        QTest::addColumn<bool>("shared");
        const QImage argb = uniform(QSize(640, 480), qRgba(16, 32, 48, 64));
        QImage rgb = argb.copy();
        rgb.reinterpretAsFormat(QImage::Format_RGB32);
        QTest::newRow("ARGB32 640x480 is shared") << argb << argb << true;
        QTest::newRow("RGB32 gets alpha 255")
            << rgb << uniform(rgb.size(), qRgb(16, 32, 48)) << false;
        QTest::newRow("null") << QImage() << QImage() << true;
    }

    // adjustFormat() gives Format_ARGB32, sharing an ARGB32 image's data; createTargetImage()
    // gives an ARGB32 image of the same size, null for a null image.
    void images()
    {
        QFETCH(QImage, image);
        QFETCH(QImage, adjusted);
        QFETCH(bool, shared);
        const EmptyROI method;
        const QImage result = method.adjustFormat(image);
        QVERIFY(sameStoredPixels(result, adjusted, QTest::currentDataTag()));
        QCOMPARE(result.constBits() == image.constBits(), shared);
        const QImage target = method.createTargetImage(image);
        QCOMPARE(qMakePair(target.size(), target.format()),
            qMakePair(
                image.size(), image.isNull() ? QImage::Format_Invalid : QImage::Format_ARGB32));
    }
};

QTEST_GUILESS_MAIN(tst_ZTAbstractROI)
#include "tst_ZTAbstractROI.moc"
