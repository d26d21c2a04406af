#include "analysis/ZTPictureAnalyzer.h"

#include "crops/ZTCropPlanner.h"
#include "crops/ZTCropWarnings.h"
#include "crops/ZTOverlayPainter.h"
#include "faces/ZTFaceDetector.h"
#include "report/ZTReviewPage.h"

#include <ZTAbstractROI.h>
#include <ZTMapGeometry.h>
#include <ZTSalienzClusterer.h>
#include <ZTSalienzMixer.h>

#include <QFile>

#include <algorithm>
#include <exception>
#include <new>
#include <tuple>
#include <utility>

namespace {

// The clusterer's scores for a grid of columns x rows cells, row by row. cluster() cuts the
// width into countCubesV() columns and the height into countCubesH() rows. When the map is not a
// multiple of the cell size, it scores the pixels left over at the right and bottom as narrower
// cells; those slivers are not reported, so the scores always have the requested shape. A grid
// finer than the map is reduced to one cell per map pixel.
QVector<int> gridScores(const QImage& map, QSize* grid)
{
    const int columns = std::min(grid->width(), map.width());
    const int rows = std::min(grid->height(), map.height());
    *grid = QSize(columns, rows);
    ZTSalienzClusterer clusterer;
    clusterer.setCountCubesV(columns);
    clusterer.setCountCubesH(rows);
    const QImage cubes = clusterer.cluster(map);
    const int cellWidth = map.width() / columns;
    const int cellHeight = map.height() / rows;
    QVector<int> scores;
    scores.reserve(columns * rows);
    for (int row = 0; row < rows; ++row) {
        const QRgb* line = reinterpret_cast<const QRgb*>(cubes.constScanLine(row * cellHeight));
        for (int column = 0; column < columns; ++column) {
            scores.append(qRed(line[column * cellWidth]));
        }
    }
    return scores;
}

// The mixed map exactly as ZTSalienzMixer::analyze() makes it, from maps already gathered.
// analyze() would hand back only the mixed map, and --maps writes every method's map too: calling
// it as well would run every method twice. The mixer has no public call for its last step (no map:
// nothing; one map: that map unweighted; several: mix()), so that step is repeated here; the tests
// compare the written map with analyze()'s.
QImage combine(ZTSalienzMixer& mixer, const QList<QImage>& maps)
{
    if (maps.isEmpty()) {
        return QImage();
    }
    return maps.size() == 1 ? maps.first() : mixer.mix(maps, mixer.gatherWeights());
}

} // namespace

ZTCropWriter ZTPictureAnalyzer::cropWriterFor(const ZTAnalysisSettings& settings)
{
    return ZTCropWriter(
        settings.cropFormat, settings.cropQuality, settings.maxCropSide, settings.noEnlarge);
}

ZTPictureAnalyzer::ZTPictureAnalyzer(
    const ZTAnalysisSettings& settings, ZTFaceFinder faceFinder, const QString& faceDetector)
    : m_settings(settings)
    , m_mixer(std::make_unique<ZTSalienzMixer>(settings.analysisSize))
    , m_faceFinder(std::move(faceFinder))
    , m_faceDetector(faceDetector)
    , m_cropWriter(cropWriterFor(settings))
{
    if (settings.faces && !m_faceFinder) {
        m_ownFaceDetector = std::make_unique<ZTFaceDetector>();
        if (m_ownFaceDetector->load()) {
            m_faceDetector = m_ownFaceDetector->name();
            ZTFaceDetector* const detector = m_ownFaceDetector.get();
            m_faceFinder = [detector](const QImage& picture) { return detector->detect(picture); };
        } else {
            m_faceError = m_ownFaceDetector->errorString();
        }
    }
    m_loader.setMaxPixels(settings.maxPixels);
    m_loader.setFormats(settings.formats);
    if (settings.fastDecode) {
        m_loader.setFastDecodeNeed(
            [this](const QSize& upright) { return neededDecodeSize(upright); });
    }
    settings.configureMixer(*m_mixer);
}

ZTPictureAnalyzer::~ZTPictureAnalyzer() = default;

// Areas are given in input pixels; the mixer wants them on the work image, with its size.
void ZTPictureAnalyzer::injectAreas(ZTSalienzMixer& mixer, const QList<QRect>& areas,
    const QSize& inputSize, const QSize& workSize, int weight)
{
    const ZTMapGeometry toWork(inputSize, workSize);
    QList<QRect> rects;
    for (const QRect& area : areas) {
        rects.append(toWork.toMap(area));
    }
    mixer.injectVeryImportantAreas(rects, workSize);
    mixer.setMethodWeight(SalienzVeryImportantAreas, weight);
}

void ZTPictureAnalyzer::setMemoryBudget(ZTMemoryBudget* budget)
{
    const qint64 bytesPerPixel = m_cropWriter.memoryBytesPerPixel(picturesMade(m_settings));
    m_loader.setMemoryBudget(budget, [this, bytesPerPixel](const QSize& picture) {
        const QSize size = picture.expandedTo(QSize(0, 0));
        return analysisBytes(m_settings, picture)
            + qint64(size.width()) * size.height() * bytesPerPixel;
    });
}

// The methods' maps and work buffers at the analysis size, measured on their largest settings,
// the overlay at its largest size, and the largest written crop or thumbnail of a fixed size.
qint64 ZTPictureAnalyzer::analysisBytes(const ZTAnalysisSettings& settings, const QSize& picture)
{
    constexpr qint64 bytesPerAnalysisPixel = 64;
    constexpr qint64 overlayBytesPerPixel = 16;
    const qint64 overlayPixels = qint64(ZTOverlayPainter::maxSide) * ZTOverlayPainter::maxSide;
    return qint64(settings.analysisSize.width()) * settings.analysisSize.height()
        * bytesPerAnalysisPixel
        + (settings.writeOverlay ? overlayPixels * overlayBytesPerPixel : 0)
        + cropWriterFor(settings).memoryBytes(picturesMade(settings), picture);
}

// The pictures that ZTCropWriter makes of each picture, one after another: the written crops and
// the review page's thumbnail.
QList<ZTCropRequest> ZTPictureAnalyzer::picturesMade(const ZTAnalysisSettings& settings)
{
    QList<ZTCropRequest> made = settings.writeCrops ? settings.crops : QList<ZTCropRequest>();
    if (!settings.reviewPage.isEmpty()) {
        ZTCropRequest thumbnail;
        thumbnail.outputSize = QSize(ZTReviewPage::thumbnailSide, ZTReviewPage::thumbnailSide);
        made.append(thumbnail);
    }
    return made;
}

ZTPictureAnalysis ZTPictureAnalyzer::analyze(const QString& path)
{
    return analyzeLoaded(path, [this, &path] { return load(path); });
}

ZTPictureAnalysis ZTPictureAnalyzer::analyzeData(const QString& name, const QByteArray& data)
{
    return analyzeLoaded(name, [this, &data] { return m_loader.loadData(data); });
}

// A decoded picture stands in for the loader's: converted as the loader converts what it decodes.
ZTPictureAnalysis ZTPictureAnalyzer::analyzeImage(
    const QString& name, const QImage& picture, const QByteArray& format)
{
    return analyzeLoaded(name, [this, &picture, &format] {
        m_image = picture.convertToFormat(QImage::Format_ARGB32);
        m_imageFormat = format;
        return true;
    });
}

// Runs @p readPicture, which leaves the picture in the loader or in m_image, and analyses the
// picture.
ZTPictureAnalysis ZTPictureAnalyzer::analyzeLoaded(
    const QString& name, const std::function<bool()>& readPicture)
{
    ZTPictureAnalysis analysis;
    ZTPictureReport& report = analysis.report;
    report.input = name;
    report.bundled = m_settings.bundledPicture;
    m_image = QImage();
    try {
        const bool loaded = readPicture();
        report.decoderMessages = m_loader.messages();
        if (!loaded) {
            report.fail(m_loader.errorKind(), m_loader.errorString());
        } else {
            analyzePicture(analysis);
        }
    } catch (const std::bad_alloc&) {
        report.fail(ZTError::Kind::OutOfMemory, QStringLiteral("not enough memory"));
    } catch (const std::exception& e) {
        report.fail(ZTError::Kind::Internal, QString::fromLocal8Bit(e.what()));
    }
    if (!report.ok()) {
        // A failed picture reports why and nothing else.
        ZTPictureAnalysis failed;
        failed.report.input = report.input;
        failed.report.bundled = report.bundled;
        failed.report.fail(report.errorKind, report.error);
        failed.report.decoderMessages = report.decoderMessages;
        return failed;
    }
    return analysis;
}

// Every name is a file; only the bundled photograph, analysed when no picture is named, comes
// from the program's resources.
bool ZTPictureAnalyzer::load(const QString& path)
{
    if (!m_settings.bundledPicture) {
        return m_loader.load(path);
    }
    QFile resource(path);
    resource.open(QIODevice::ReadOnly);
    return m_loader.load(&resource);
}

void ZTPictureAnalyzer::analyzePicture(ZTPictureAnalysis& analysis)
{
    ZTPictureReport& report = analysis.report;
    if (m_image.isNull()) {
        analysis.picture = m_loader.takeImage();
        analysis.format = m_loader.format();
        report.inputSize = m_loader.inputSize();
    } else {
        analysis.picture = std::exchange(m_image, QImage());
        analysis.format = m_imageFormat;
        report.inputSize = analysis.picture.size();
    }
    const QImage& picture = analysis.picture;
    const QSize workSize = picture.size().scaled(m_settings.analysisSize, Qt::KeepAspectRatio);

    // Declared areas: the --area rectangles, and the head around every face (kept as the face
    // by crops too small for the head).
    QList<ZTDeclaredArea> declared;
    for (const QRect& area : m_settings.areas) {
        declared.append({area, area});
    }
    if (m_settings.faces) {
        if (!findFaces(picture, report)) {
            return;
        }
        for (const QRect& face : report.faces) {
            declared.append({headAround(face, m_faceDetector), face});
        }
    }
    // The areas method runs for a picture with areas to show; it keeps the mixer's last
    // picture's areas otherwise, so it is switched off.
    if (!declared.isEmpty() && !m_settings.disabled.contains(SalienzVeryImportantAreas)) {
        QList<QRect> rects;
        for (const ZTDeclaredArea& area : declared) {
            rects.append(area.rect);
        }
        injectAreas(*m_mixer, rects, report.inputSize, workSize,
            m_settings.weight(SalienzVeryImportantAreas));
    } else {
        m_mixer->setMethodEnabled(SalienzVeryImportantAreas, false);
    }
    report.methods = methodStates();

    analysis.maps = m_mixer->gatherResults(picture);
    for (const ZTMethodState& state : report.methods) {
        if (state.enabled) {
            analysis.mapMethods.append(state.method);
        }
    }
    analysis.salience = combine(*m_mixer, analysis.maps);
    const QImage& salience = analysis.salience;
    if (salience.isNull() || analysis.maps.size() != analysis.mapMethods.size()) {
        report.fail(ZTError::Kind::Internal, QStringLiteral("the analysis gave no salience map"));
        return;
    }
    report.analysisSize = salience.size();

    ZTCropPlanner planner(salience, report.inputSize, m_settings.pixelWeight);
    if (!m_settings.areas.isEmpty() || m_settings.faces) {
        planner.setDeclaredAreas(declared);
    }
    for (const ZTCropRequest& request : m_settings.crops) {
        report.crops.append(planner.plan(request));
    }
    ZTCropWarnings::assess(
        report.crops, m_cropWriter, report.inputSize, m_settings.areas, report.faces);
    report.focus = planner.focalPoint();
    if (m_settings.grid.isValid()) {
        report.grid = m_settings.grid;
        report.gridScores = gridScores(salience, &report.grid);
    }

    if (!m_settings.reviewPage.isEmpty()) {
        ZTReviewPage::makePreviews(picture, salience, &report);
    }
}

// With --fast-decode a JPEG is decoded no larger than the analysis, the written crops and the
// review page's thumbnail need.
QSize ZTPictureAnalyzer::neededDecodeSize(const QSize& upright) const
{
    QSize needed = upright.scaled(m_settings.analysisSize, Qt::KeepAspectRatio);
    if (m_settings.writeCrops) {
        needed = needed.expandedTo(m_cropWriter.neededSize(upright, m_settings.crops));
    }
    if (!m_settings.reviewPage.isEmpty()) {
        needed = needed.expandedTo(ZTReviewPage::thumbnailSize(upright));
    }
    return needed;
}

QRect ZTPictureAnalyzer::headAround(const QRect& face, const QString& detector)
{
    return ZTFaceDetector::headAround(face, detector);
}

// Faces are found on the picture as decoded, which --fast-decode may have made smaller than the
// input, and reported in input pixels, inside the picture: the largest maxFaces of them, in an
// order that does not depend on the finder's.
bool ZTPictureAnalyzer::findFaces(const QImage& picture, ZTPictureReport& report)
{
    if (!m_faceFinder) {
        report.fail(ZTError::Kind::Unavailable, m_faceError);
        return false;
    }
    const ZTMapGeometry toInput(report.inputSize, picture.size());
    const QRect inside(QPoint(0, 0), report.inputSize);
    QList<QRect> faces;
    for (const QRect& found : m_faceFinder(picture)) {
        const QRect face = toInput.toInput(found).intersected(inside);
        if (!face.isEmpty()) {
            faces.append(face);
        }
    }
    const auto key = [](const QRect& r) {
        return std::make_tuple(-qint64(r.width()) * r.height(), r.y(), r.x(), r.width());
    };
    std::sort(faces.begin(), faces.end(),
        [&key](const QRect& a, const QRect& b) { return key(a) < key(b); });
    report.facesFound = faces.size();
    report.faces = faces.mid(0, maxFaces);
    report.faceDetector = m_faceDetector;
    return true;
}

QList<ZTMethodState> ZTPictureAnalyzer::methodStates() const
{
    QList<ZTMethodState> states;
    for (const ZTSalienzMethod method : ZTAnalysisSettings::allMethods()) {
        ZTMethodState state {method, false, m_settings.weight(method)};
        if (const ZTAbstractROI* roi = m_mixer->roiMethod(method)) {
            state.enabled = roi->isEnabled();
            // The mixer stores the histogram's weight negated; report it as it was given.
            state.weight = method == SalienzHistogram ? -roi->weight() : roi->weight();
        }
        states.append(state);
    }
    return states;
}
