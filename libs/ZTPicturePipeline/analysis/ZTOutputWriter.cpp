#include "analysis/ZTOutputWriter.h"

#include "crops/ZTOverlayPainter.h"
#include "output/ZTOutputFolder.h"
#include "output/ZTOutputTransaction.h"
#include "text/ZTNumberText.h"

#include <exception>
#include <new>

namespace {

constexpr int overlayJpegQuality = 90;
const QString png = QStringLiteral("png");

// A salience map as an 8-bit grey picture of its red components: the same values in a quarter
// of the pixel data, which makes the PNG several times faster to write and smaller.
QImage greyMap(const QImage& map)
{
    QImage grey(map.size(), QImage::Format_Grayscale8);
    for (int y = 0; y < map.height(); ++y) {
        const QRgb* const in = reinterpret_cast<const QRgb*>(map.constScanLine(y));
        uchar* const out = grey.scanLine(y);
        for (int x = 0; x < map.width(); ++x) {
            out[x] = uchar(qRed(in[x]));
        }
    }
    return grey;
}

// What a failed picture reports: why, and what the decoder said.
ZTPictureReport failedReport(const ZTPictureReport& report)
{
    ZTPictureReport failed;
    failed.input = report.input;
    failed.bundled = report.bundled;
    failed.fail(report.errorKind, report.error);
    failed.decoderMessages = report.decoderMessages;
    return failed;
}

} // namespace

ZTOutputWriter::ZTOutputWriter(const ZTAnalysisSettings& settings, const ZTOutputFolder& folder)
    : m_settings(settings)
    , m_folder(folder)
    , m_cropWriter(ZTPictureAnalyzer::cropWriterFor(settings))
{}

void ZTOutputWriter::write(ZTPictureAnalysis& analysis, const QString& outputName) const
{
    ZTPictureReport& report = analysis.report;
    if (!report.ok() || !m_settings.writesFiles()) {
        return;
    }
    // A name with folders in it ("a/b") writes into that subfolder, made as safely as the
    // folder itself.
    const int slash = outputName.lastIndexOf(QLatin1Char('/'));
    ZTOutputFolder subfolder;
    if (slash >= 0) {
        QString error;
        if (!subfolder.openSubfolder(m_folder, outputName.left(slash), &error)) {
            report.fail(subfolder.errorKind(), error);
            report = failedReport(report);
            return;
        }
    }
    const ZTOutputFolder& folder = slash >= 0 ? subfolder : m_folder;
    const QString stem = outputName.mid(slash + 1);
    // All or nothing: a picture that fails takes back the files it wrote, and puts back those
    // that they replaced.
    ZTOutputTransaction files(folder, ZTOutputFolder::inputIdentity(report.input, report.bundled));
    try {
        writeAll(analysis, stem, files);
    } catch (const std::bad_alloc&) {
        report.fail(ZTError::Kind::OutOfMemory, QStringLiteral("not enough memory"));
    } catch (const std::exception& e) {
        report.fail(ZTError::Kind::Internal, QString::fromLocal8Bit(e.what()));
    }
    if (report.ok()) {
        files.commit();
    } else {
        files.rollback();
        report = failedReport(report);
    }
}

bool ZTOutputWriter::writeAll(
    ZTPictureAnalysis& analysis, const QString& outputName, ZTOutputTransaction& files) const
{
    ZTPictureReport& report = analysis.report;
    if (m_settings.writeSalienceMap
        && !writeFile(report, files, outputName, QStringLiteral("salience"),
            greyMap(analysis.salience), -1, png)) {
        return false;
    }
    if (m_settings.writeMaps) {
        for (int i = 0; i < analysis.maps.size(); ++i) {
            if (!writeFile(report, files, outputName,
                    ZTAnalysisSettings::methodName(analysis.mapMethods.at(i)),
                    greyMap(analysis.maps.at(i)), -1, png)) {
                return false;
            }
        }
    }
    if (m_settings.writeOverlay) {
        const QImage overlay = ZTOverlayPainter::paint(
            analysis.picture, analysis.salience, report.inputSize, report.crops, report.focus);
        if (!writeFile(report, files, outputName, QStringLiteral("overlay"), overlay,
                overlayJpegQuality, QStringLiteral("jpg"))) {
            return false;
        }
    }
    return !m_settings.writeCrops || writeCrops(analysis, outputName, files);
}

bool ZTOutputWriter::writeCrops(
    ZTPictureAnalysis& analysis, const QString& outputName, ZTOutputTransaction& files) const
{
    ZTPictureReport& report = analysis.report;
    const QString suffix = m_cropWriter.suffixFor(analysis.format);
    const QStringList kinds = ZTCropWriter::fileKinds(report.crops);
    for (int i = 0; i < report.crops.size(); ++i) {
        const ZTCrop& crop = report.crops.at(i);
        // Said before the crop is made: the encoder would only fail on it.
        const QSize size = m_cropWriter.outputSize(crop.request, crop.rect.size());
        const QString tooLarge = ZTOutputTransaction::sizeLimitText(suffix, size);
        if (!tooLarge.isEmpty()) {
            report.fail(ZTError::Kind::TooLarge,
                QStringLiteral("the crop %1 is %2 pixels, too large: %3")
                    .arg(crop.request.text, ZTNumberText::sizeText(size), tooLarge));
            return false;
        }
        const QImage image = m_cropWriter.render(analysis.picture, report.inputSize, crop, suffix);
        if (image.isNull()) {
            report.fail(ZTError::Kind::OutOfMemory,
                QStringLiteral("not enough memory for the crop %1 (%2x%3)")
                    .arg(crop.request.text)
                    .arg(crop.rect.width())
                    .arg(crop.rect.height()));
            return false;
        }
        if (!writeFile(report, files, outputName, kinds.at(i), image,
                m_cropWriter.qualityFor(suffix), suffix)) {
            return false;
        }
    }
    return true;
}

bool ZTOutputWriter::writeFile(ZTPictureReport& report, ZTOutputTransaction& files,
    const QString& outputName, const QString& kind, const QImage& image, int quality,
    const QString& format) const
{
    const QString suffix = QLatin1Char('.') + kind + QLatin1Char('.') + format;
    QString error;
    QString kept;
    const QString path = files.writeImage(outputName, suffix, image, quality, &error, &kept);
    if (path.isEmpty()) {
        report.fail(ZTError::Kind::WriteFailed, error);
        return false;
    }
    report.files.append({kind, path,
        kept.isEmpty() ? QString() : files.folder().filePath(outputName + suffix), kept});
    return true;
}
