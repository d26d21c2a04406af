#include "ZTAbstractROI.h"
#include "ZTGaussROI.h"

#include <QtTest>

#include <functional>
#include <memory>

namespace {

// The smallest concrete method: evaluates to a map of one salience value.
class ConstantROI : public ZTAbstractROI
{
public:
    QImage evaluate(const QImage& image) override
    {
        QImage map = createTargetImage(image);
        map.fill(qRgb(200, 200, 200));
        return map;
    }
};

using MethodFactory = std::function<std::unique_ptr<ZTAbstractROI>()>;

} // namespace

Q_DECLARE_METATYPE(MethodFactory)

class tst_ZTAbstractROI : public QObject
{
    Q_OBJECT

private slots:
    void freshMethodIsEnabledWithWeightZero_data();
    void freshMethodIsEnabledWithWeightZero();
    void weightIsStoredUnchanged_data();
    void weightIsStoredUnchanged();
    void enabledFlagToggles();
    void adjustFormatSharesArgb32();
    void adjustFormatConvertsOtherFormats_data();
    void adjustFormatConvertsOtherFormats();
    void createTargetImage_data();
    void createTargetImage();
    void greyPixelCarriesSalienceInRed();
};

void tst_ZTAbstractROI::freshMethodIsEnabledWithWeightZero_data()
{
    QTest::addColumn<MethodFactory>("factory");
    QTest::newRow("subclass of the base")
        << MethodFactory([] { return std::unique_ptr<ZTAbstractROI>(new ConstantROI); });
    QTest::newRow("centre prior") << MethodFactory(
        [] { return std::unique_ptr<ZTAbstractROI>(new ZTGaussROI); });
}

void tst_ZTAbstractROI::freshMethodIsEnabledWithWeightZero()
{
    QFETCH(MethodFactory, factory);
    const std::unique_ptr<ZTAbstractROI> method = factory();
    QVERIFY(method->isEnabled());
    QCOMPARE(method->weight(), 0);
}

void tst_ZTAbstractROI::weightIsStoredUnchanged_data()
{
    QTest::addColumn<int>("weight");
    QTest::newRow("negative") << -10;
    QTest::newRow("positive") << 20;
    QTest::newRow("int minimum") << std::numeric_limits<int>::min();
    QTest::newRow("int maximum") << std::numeric_limits<int>::max();
}

void tst_ZTAbstractROI::weightIsStoredUnchanged()
{
    QFETCH(int, weight);
    ConstantROI method;
    method.setWeight(weight);
    QCOMPARE(method.weight(), weight);
}

void tst_ZTAbstractROI::enabledFlagToggles()
{
    ConstantROI method;
    method.setEnabled(false);
    QVERIFY(!method.isEnabled());
    method.setEnabled(true);
    QVERIFY(method.isEnabled());
}

void tst_ZTAbstractROI::adjustFormatSharesArgb32()
{
    QImage image(4, 3, QImage::Format_ARGB32);
    image.fill(qRgba(1, 2, 3, 4));
    const ConstantROI method;
    const QImage adjusted = method.adjustFormat(image);
    QCOMPARE(adjusted.cacheKey(), image.cacheKey());
    QCOMPARE(adjusted.constBits(), image.constBits());
}

void tst_ZTAbstractROI::adjustFormatConvertsOtherFormats_data()
{
    QTest::addColumn<QImage::Format>("format");
    QTest::newRow("RGB32") << QImage::Format_RGB32;
    QTest::newRow("RGB888") << QImage::Format_RGB888;
    QTest::newRow("Grayscale8") << QImage::Format_Grayscale8;
}

void tst_ZTAbstractROI::adjustFormatConvertsOtherFormats()
{
    QFETCH(QImage::Format, format);
    QImage image(5, 2, format);
    image.fill(QColor(10, 10, 10));
    const ConstantROI method;
    const QImage adjusted = method.adjustFormat(image);
    QCOMPARE(adjusted.format(), QImage::Format_ARGB32);
    QCOMPARE(adjusted.size(), image.size());
    QCOMPARE(image.format(), format);
    for (int y = 0; y < adjusted.height(); ++y) {
        for (int x = 0; x < adjusted.width(); ++x) {
            QCOMPARE(adjusted.pixel(x, y), qRgb(10, 10, 10));
        }
    }
}

void tst_ZTAbstractROI::createTargetImage_data()
{
    QTest::addColumn<QImage>("image");
    QTest::addColumn<QSize>("expectedSize");
    QTest::newRow("640x480 RGB32") << QImage(640, 480, QImage::Format_RGB32) << QSize(640, 480);
    QTest::newRow("3x1 indexed") << QImage(3, 1, QImage::Format_Indexed8) << QSize(3, 1);
    QTest::newRow("null") << QImage() << QSize();
}

void tst_ZTAbstractROI::createTargetImage()
{
    QFETCH(QImage, image);
    QFETCH(QSize, expectedSize);
    const ConstantROI method;
    const QImage target = method.createTargetImage(image);
    QCOMPARE(target.isNull(), expectedSize.isEmpty());
    if (!target.isNull()) {
        QCOMPARE(target.size(), expectedSize);
        QCOMPARE(target.format(), QImage::Format_ARGB32);
    }
}

void tst_ZTAbstractROI::greyPixelCarriesSalienceInRed()
{
    ConstantROI method;
    const QImage map = method.evaluate(QImage(2, 2, QImage::Format_RGB32));
    const QRgb pixel = map.pixel(1, 1);
    QCOMPARE(qAlpha(pixel), 255);
    QCOMPARE(qRed(pixel), 200);
    QCOMPARE(pixel, QRgb(0xFFC8C8C8));
}

QTEST_GUILESS_MAIN(tst_ZTAbstractROI)
#include "tst_ZTAbstractROI.moc"
