#ifndef ZTANALYSISSETTINGS_H
#define ZTANALYSISSETTINGS_H

#include "types/ZTCropRequest.h"

#include <ZTSalienzMethod.h>
#include <ZTSalienzPixelWeightMethod.h>

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QRect>
#include <QSize>
#include <QString>

#include <optional>

class ZTSalienzMixer;

/** Histogram-method parameters given on the command line; unset ones keep the method's default. */
struct ZTHistogramSettings
{
    std::optional<int> bins1;
    std::optional<int> bins2;
    std::optional<int> columns; ///< horizontal blocks
    std::optional<int> rows;    ///< vertical blocks
    std::optional<double> threshold;
    std::optional<double> minWidth;
    std::optional<double> minHeight;
};

/**
 * How each picture is read, analysed and written: what ZTPictureAnalyzer needs of a run. The
 * defaults that belong to the loader and the crop writer (cropQuality, maxPixels, formats) are
 * set by the constructor, so that this header needs neither.
 */
struct ZTAnalysisSettings
{
    /** The default analysis size: a square, so that portrait and landscape get equal detail. */
    static constexpr int defaultAnalysisSide = 480;

    ZTAnalysisSettings();

    bool bundledPicture = false;  ///< no picture given: analyse the bundled photograph
    bool writeSalienceMap = true; ///< false with --no-map
    bool writeMaps = false;
    bool writeOverlay = false;
    bool fastDecode = false;
    QList<ZTCropRequest> crops; ///< the default set unless --crop or --no-crops
    bool writeCrops = false;
    QString cropFormat;     ///< jpg, png or webp; empty: each picture's own format where possible
    int cropQuality;        ///< ZTCropWriter::defaultQuality unless --quality
    int maxCropSide = 0;    ///< --max-side for W:H crops; 0: the crop window's own size
    bool noEnlarge = false; ///< --no-enlarge: WxH crops are written no larger than their window
    QString reviewPage; ///< --report FILE; empty when not asked (pictures then get no thumbnail)
    ZTSalienzPixelWeightMethod pixelWeight = SalienzPixelWeightLinear;
    QSize grid; ///< columns x rows of --grid; invalid when not asked
    QSize analysisSize {defaultAnalysisSide, defaultAnalysisSide};
    QMap<ZTSalienzMethod, int> weights; ///< --weight overrides, as given to setMethodWeight
    QList<ZTSalienzMethod> disabled;
    QList<QRect> areas; ///< very important areas in input coordinates
    bool faces = false; ///< --faces: every face found is a very important area too
    /// --no-faces: no faces even where the network's model is installed, which makes faces
    /// found by default (neither flag: ZTFaceDetector::Choice::BlazeFaceOnly decides)
    bool noFaces = false;
    ZTHistogramSettings histogram;
    qint64 maxPixels;          ///< ZTImageLoader::defaultMaxPixels unless --max-pixels
    QList<QByteArray> formats; ///< Qt's names, --input-formats; ZTImageLoader::defaultFormats()
    QString outputDir = QStringLiteral("ztroi-out"); ///< where the files are written
    qint64 memoryBudget; ///< bytes that the pictures may take at once; ZTMemoryBudget's default

    /** The five methods in the mixer's key order. */
    static QList<ZTSalienzMethod> allMethods();
    /** The command-line name of @p method: sobel, center, histogram, areas, contrast. */
    static QString methodName(ZTSalienzMethod method);
    /** The method called @p name ("centre" is accepted for center); false if there is none. */
    static bool methodFromName(const QString& name, ZTSalienzMethod* method);
    /** The mixer's default weight of @p method, as given to setMethodWeight. */
    static int defaultWeight(ZTSalienzMethod method);

    /** The weight that the run gives @p method. */
    int weight(ZTSalienzMethod method) const;
    /** Whether the run may use @p method (areas only with an --area or --faces). */
    bool isEnabled(ZTSalienzMethod method) const;
    /** Whether the run writes files into the output folder (maps, overlays or crops). */
    bool writesFiles() const { return writeSalienceMap || writeMaps || writeOverlay || writeCrops; }
    /**
     * Gives @p mixer this run's method weights, enabled methods and histogram parameters (the
     * very important areas come per picture).
     */
    void configureMixer(ZTSalienzMixer& mixer) const;
};

#endif // ZTANALYSISSETTINGS_H
