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
    // A fresh method is enabled with weight 0, and the weight is stored unchanged.
    // adjustFormat() shares an ARGB32 image's data and gives an RGB32 image alpha 255;
    // createTargetImage() gives an ARGB32 image of the same size, null for a null image.
    void basics()
    {
        EmptyROI method;
        QCOMPARE(qMakePair(method.isEnabled(), method.weight()), qMakePair(true, 0));
        method.setEnabled(false);
        method.setWeight(-10);
        QCOMPARE(qMakePair(method.isEnabled(), method.weight()), qMakePair(false, -10));
        const QImage argb = uniform(QSize(640, 480), qRgba(16, 32, 48, 64));
        QCOMPARE(method.adjustFormat(argb).constBits(), argb.constBits());
        QImage rgb = argb.copy();
        rgb.reinterpretAsFormat(QImage::Format_RGB32);
        QVERIFY(sameStoredPixels(
            method.adjustFormat(rgb), uniform(rgb.size(), qRgb(16, 32, 48)), "alpha 255"));
        const QImage target = method.evaluate(argb);
        QCOMPARE(qMakePair(target.size(), target.format()),
            qMakePair(QSize(640, 480), QImage::Format_ARGB32));
        QVERIFY(method.adjustFormat(QImage()).isNull() && method.evaluate(QImage()).isNull());
    }
};

QTEST_GUILESS_MAIN(tst_ZTAbstractROI)
#include "tst_ZTAbstractROI.moc"
