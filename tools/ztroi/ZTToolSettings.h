#ifndef ZTTOOLSETTINGS_H
#define ZTTOOLSETTINGS_H

#include "ZTCropPlanner.h"
#include "ZTCropWriter.h"
#include "ZTImageLoader.h"
#include "ZTMemoryBudget.h"

#include <ZTSalienzMethod.h>
#include <ZTSalienzPixelWeightMethod.h>

#include <QList>
#include <QMap>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

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

/** A file of picture paths: --list (one a line) or --list0 (NUL-separated); "-" is stdin. */
struct ZTInputList
{
    QString path;
    char separator = '\n';
};

/** Everything that one run of ztroi does, as parsed from its command line. */
struct ZTToolSettings
{
    /** The default analysis size: a square, so that portrait and landscape get equal detail. */
    static constexpr int defaultAnalysisSide = 480;

    QStringList inputs;            ///< paths in input order (command line first, then --list)
    QList<ZTInputList> inputLists; ///< every --list and --list0, in the order given
    bool bundledPicture = false;   ///< no picture given: analyse the bundled photograph
    QString outputDir = QStringLiteral("ztroi-out");
    bool writeSalienceMap = true; ///< false with --no-map
    bool writeMaps = false;
    bool writeOverlay = false;
    bool json = false;
    bool quiet = false;
    bool fastDecode = false;
    QList<ZTCropRequest> crops; ///< the default set unless --crop or --no-crops
    bool writeCrops = false;
    QString cropFormat; ///< jpg, png or webp; empty: each picture's own format where possible
    int cropQuality = ZTCropWriter::defaultQuality;
    int maxCropSide = 0; ///< --max-side for W:H crops; 0: the crop window's own size
    QString reviewPage;  ///< --report FILE; empty when not asked
    ZTSalienzPixelWeightMethod pixelWeight = SalienzPixelWeightLinear;
    QSize grid; ///< columns x rows of --grid; invalid when not asked
    QSize analysisSize {defaultAnalysisSide, defaultAnalysisSide};
    QMap<ZTSalienzMethod, int> weights; ///< --weight overrides, as given to setMethodWeight
    QList<ZTSalienzMethod> disabled;
    QList<QRect> areas; ///< very important areas in input coordinates
    bool faces = false; ///< --faces: every face found is a very important area too
    ZTHistogramSettings histogram;
    qint64 maxPixels = ZTImageLoader::defaultMaxPixels;
    QList<QByteArray> formats = ZTImageLoader::defaultFormats(); ///< Qt's names, --input-formats
    qint64 memoryBudget
        = ZTMemoryBudget::defaultBytes; ///< bytes that the pictures may take at once
    bool verbose = false;               ///< show what the decoders say
    int jobs = 1;

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

#endif // ZTTOOLSETTINGS_H
