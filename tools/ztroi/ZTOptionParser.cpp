#include "ZTOptionParser.h"

#include "analysis/ZTPictureAnalyzer.h"
#include "faces/ZTFaceDetector.h"
#include "text/ZTFileName.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QIODevice>
#include <QRegularExpression>

#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>

namespace {

constexpr int maxAnalysisSide = 4096;
constexpr int maxCropTerm = 100000;
constexpr int maxWeight = 1000;
constexpr int maxAreaCoordinate = 1000000;
constexpr int maxGridCells = 100;
constexpr int maxHistogramBlocks = 100;
constexpr int maxHistogramBins = 256;
constexpr int maxJobs = 256;
constexpr qint64 maxMemoryMegabytes = 1 << 20;
constexpr int maxQuality = 100;

// Options by name, so that parse() and helpText() describe the same command line.
const char* const optOut = "out";
const char* const optNoMap = "no-map";
const char* const optMaps = "maps";
const char* const optOverlay = "overlay";
const char* const optJson = "json";
const char* const optCrop = "crop";
const char* const optNoCrops = "no-crops";
const char* const optWriteCrops = "write-crops";
const char* const optFormat = "format";
const char* const optQuality = "quality";
const char* const optMaxSide = "max-side";
const char* const optReport = "report";
const char* const optPixelWeight = "pixel-weight";
const char* const optGrid = "grid";
const char* const optSize = "size";
const char* const optWeight = "weight";
const char* const optDisable = "disable";
const char* const optArea = "area";
const char* const optFaces = "faces";
const char* const optHistBins = "hist-bins";
const char* const optHistBlocks = "hist-blocks";
const char* const optHistThreshold = "hist-threshold";
const char* const optHistMin = "hist-min";
const char* const optFastDecode = "fast-decode";
const char* const optMaxPixels = "max-pixels";
const char* const optList = "list";
const char* const optList0 = "list0";
const char* const optFormats = "input-formats";
const char* const optMemory = "memory";
const char* const optVerbose = "verbose";
const char* const optJobs = "jobs";
const char* const optQuiet = "quiet";

// "sobel=20, center=2, ...": every method with its default weight.
QString defaultWeights()
{
    QStringList weights;
    for (const ZTSalienzMethod method : ZTToolSettings::allMethods()) {
        weights.append(QStringLiteral("%1=%2")
                           .arg(ZTToolSettings::methodName(method))
                           .arg(ZTToolSettings::defaultWeight(method)));
    }
    return weights.join(QLatin1String(", "));
}

QString methodNames()
{
    QStringList names;
    for (const ZTSalienzMethod method : ZTToolSettings::allMethods()) {
        names.append(ZTToolSettings::methodName(method));
    }
    return names.join(QLatin1String(", "));
}

void describe(QCommandLineParser& parser)
{
    parser.setApplicationDescription(QStringLiteral(
        "Finds where the salient parts of photographs are: writes a salience map per picture,\n"
        "suggests crops for given aspect ratios, a focal point and grid scores."));
    // Not addHelpOption(): that adds --help-all, which would list Qt's own options.
    parser.addOption({{QStringLiteral("h"), QStringLiteral("help")},
        QStringLiteral("Show this help and exit.")});
    parser.addOption({{QStringLiteral("v"), QStringLiteral("version")},
        QStringLiteral("Show the versions of ztroi and of the library it runs with, and exit.")});
    parser.addOptions({
        {{QStringLiteral("o"), optOut},
            QStringLiteral("Write the output files into <dir> (default: ztroi-out)."),
            QStringLiteral("dir")},
        {optNoMap,
            QStringLiteral("Do not write the salience map (NAME.salience.png); crops, focal point "
                           "and grid scores are still reported.")},
        {optMaps, QStringLiteral("Also write each method's own map (NAME.METHOD.png).")},
        {optOverlay,
            QStringLiteral("Also write the picture with the salience as a heat overlay and every "
                           "crop drawn on it (NAME.overlay.jpg).")},
        {optJson,
            QStringLiteral("Print one JSON object per picture on standard output (JSON Lines), in "
                           "input order.")},
        {{QStringLiteral("c"), optCrop},
            QStringLiteral("Suggest a crop: W:H is an aspect ratio, WxH an output size (its aspect "
                           "counts). Repeatable. Without any, every picture gets 1:1, 4:5 and "
                           "16:9."),
            QStringLiteral("W:H|WxH")},
        {optNoCrops, QStringLiteral("Suggest no crops.")},
        {optWriteCrops,
            QStringLiteral("Also write each crop as a picture (NAME.crop-16x9.jpg, "
                           "NAME.crop-1080x1350px.jpg): WxH crops scaled to exactly that size, W:H "
                           "crops at the picture's resolution.")},
        {optFormat,
            QStringLiteral("Format of written crops (default: the picture's own where it is one "
                           "of these, else jpg)."),
            QStringLiteral("jpg|png|webp")},
        {optQuality,
            QStringLiteral("Quality of written JPEG and WebP crops, 0-100 (default 90); PNG is "
                           "lossless."),
            QStringLiteral("N")},
        {optMaxSide,
            QStringLiteral("Scale written W:H crops down to at most N pixels on their longer "
                           "side."),
            QStringLiteral("N")},
        {optReport,
            QStringLiteral("Write a review page: one HTML file (named *.html or *.htm) showing "
                           "every picture with its crops, focal point, scores and errors."),
            QStringLiteral("file")},
        {optPixelWeight,
            QStringLiteral("How crops weigh the map: linear (every pixel, the default) or "
                           "threshold (only pixels above 153)."),
            QStringLiteral("linear|threshold")},
        {optGrid, QStringLiteral("Report grid scores for C columns and R rows (1-100)."),
            QStringLiteral("CxR")},
        {{QStringLiteral("s"), optSize},
            QStringLiteral("Analysis size: each picture is scaled to fit into it (default 480x480, "
                           "sides 1-4096)."),
            QStringLiteral("WxH")},
        {optWeight,
            QStringLiteral("Weight of a method, -1000 to 1000 (defaults: %1). Repeatable.")
                .arg(defaultWeights()),
            QStringLiteral("NAME=N")},
        {optDisable, QStringLiteral("Switch a method off. Repeatable."), QStringLiteral("NAME")},
        {optArea,
            QStringLiteral("A very important area in picture pixels (after EXIF orientation); "
                           "enables the areas method. Repeatable."),
            QStringLiteral("X,Y,W,H")},
        {optFaces,
            QStringLiteral("Find faces and make every head a very important area, like --area "
                           "(at most %1 faces a picture, the largest).")
                .arg(ZTPictureAnalyzer::maxFaces)},
        {optHistBins,
            QStringLiteral(
                "Histogram method: chroma bins per channel, N or N1,N2 (1-256; default 32)."),
            QStringLiteral("N[,N2]")},
        {optHistBlocks,
            QStringLiteral("Histogram method: block columns x rows (1-100 each; default 15x11)."),
            QStringLiteral("CxR")},
        {optHistThreshold,
            QStringLiteral("Histogram method: largest chi-square distance that joins two blocks "
                           "(default 0.67)."),
            QStringLiteral("X")},
        {optHistMin,
            QStringLiteral("Histogram method: share of the grid's width (and height) that a "
                           "segment must exceed to count, F or FW,FH (0-1; default 0.5,0.25)."),
            QStringLiteral("F[,FH]")},
        {optFastDecode,
            QStringLiteral("Let JPEG pictures decode at a reduced size (never below the analysis "
                           "size, the written crops or the review page's thumbnails). Faster; "
                           "maps may then differ slightly from a full decode.")},
        {optMaxPixels,
            QStringLiteral("Refuse pictures with more pixels than N (at most 2^40), checked "
                           "from the header before decoding (default 100000000)."),
            QStringLiteral("N")},
        {optList,
            QStringLiteral("Read picture paths from <file>, one per line; - reads standard input. "
                           "Repeatable."),
            QStringLiteral("file")},
        {optList0,
            QStringLiteral("Read picture paths from <file>, each ended by a NUL byte (find "
                           "-print0). Repeatable."),
            QStringLiteral("file")},
        {optFormats,
            QStringLiteral("The picture formats to read, comma-separated, from jpeg, png, gif, "
                           "bmp, webp, tiff, ico, cur, mng (default: the first six)."),
            QStringLiteral("list")},
        {optMemory,
            QStringLiteral("Memory that the pictures in progress may take together, in MB "
                           "(default 4096). Larger pictures are refused; jobs wait for room."),
            QStringLiteral("MB")},
        {optVerbose,
            QStringLiteral("Also show what the picture decoders say (warnings about colour "
                           "profiles, unknown tags, ..., and their own errors).")},
        {{QStringLiteral("j"), optJobs},
            QStringLiteral("Analyse N pictures at once (default: the number of cores)."),
            QStringLiteral("N")},
        {{QStringLiteral("q"), optQuiet},
            QStringLiteral("No progress bar and no summary; errors are still reported.")},
    });
    parser.addPositionalArgument(QStringLiteral("image"),
        QStringLiteral("Pictures to analyse (JPEG, PNG, GIF, BMP, WebP, TIFF). Without any, "
                       "the bundled photograph is analysed."),
        QStringLiteral("[image...]"));
}

// Numbers are taken exactly as written: no spaces, no "+", no line feed. (QString::toInt() and
// friends skip spaces and accept a sign, and such a value would reach the reports as given.)
bool isWholeNumber(const QString& text)
{
    static const QRegularExpression pattern(QStringLiteral("\\A-?[0-9]+\\z"));
    return pattern.match(text).hasMatch();
}

bool isDecimalNumber(const QString& text)
{
    static const QRegularExpression pattern(
        QStringLiteral("\\A-?([0-9]+(\\.[0-9]*)?|\\.[0-9]+)([eE][-+]?[0-9]+)?\\z"));
    return pattern.match(text).hasMatch();
}

template<typename T>
bool parseBoundedWhole(const QString& text, T min, T max, T* value)
{
    bool ok = isWholeNumber(text);
    const qlonglong parsed = ok ? text.toLongLong(&ok) : 0;
    if (!ok || parsed < min || parsed > max) {
        return false;
    }
    *value = T(parsed);
    return true;
}

bool parseBoundedInt(const QString& text, int min, int max, int* value)
{
    return parseBoundedWhole(text, min, max, value);
}

bool parseFiniteDouble(const QString& text, double min, double max, double* value)
{
    bool ok = isDecimalNumber(text);
    const double parsed = ok ? text.toDouble(&ok) : 0.0;
    if (!ok || !std::isfinite(parsed) || parsed < min || parsed > max) {
        return false;
    }
    *value = parsed;
    return true;
}

// "A" or "A,B": one value for both, or one each.
template<typename T, typename Parse>
bool parseOneOrTwo(const QString& text, Parse parse, T* first, T* second)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() > 2 || !parse(parts.first(), first)) {
        return false;
    }
    return parse(parts.last(), second);
}

} // namespace

QStringList ZTOptionParser::defaultCrops()
{
    return {QStringLiteral("1:1"), QStringLiteral("4:5"), QStringLiteral("16:9")};
}

QString ZTOptionParser::bundledPicturePath()
{
    return QStringLiteral(":/samples/coffee.jpg");
}

bool ZTOptionParser::fail(const QString& error)
{
    m_error = ZTFileName::printable(error);
    return false;
}

bool ZTOptionParser::parseSize(const QString& text, int min, int max, QSize* size)
{
    static const QRegularExpression pattern(QStringLiteral("\\A([0-9]+)x([0-9]+)\\z"));
    const QRegularExpressionMatch match = pattern.match(text);
    int width = 0;
    int height = 0;
    if (!match.hasMatch() || !parseBoundedInt(match.captured(1), min, max, &width)
        || !parseBoundedInt(match.captured(2), min, max, &height)) {
        return false;
    }
    *size = QSize(width, height);
    return true;
}

bool ZTOptionParser::parseCrop(const QString& text, ZTCropRequest* request)
{
    static const QRegularExpression pattern(QStringLiteral("\\A([0-9]+)([:x])([0-9]+)\\z"));
    const QRegularExpressionMatch match = pattern.match(text);
    int width = 0;
    int height = 0;
    if (!match.hasMatch() || !parseBoundedInt(match.captured(1), 1, maxCropTerm, &width)
        || !parseBoundedInt(match.captured(3), 1, maxCropTerm, &height)) {
        return false;
    }
    const int divisor = std::gcd(width, height);
    // Written without leading zeros, so that "016:09" is the request "16:9" in reports and names.
    request->text = QString::number(width) + match.captured(2) + QString::number(height);
    request->aspectWidth = width / divisor;
    request->aspectHeight = height / divisor;
    request->outputSize = match.captured(2) == QLatin1String("x") ? QSize(width, height) : QSize();
    return true;
}

ZTOptionParser::Outcome ZTOptionParser::parse(const QStringList& arguments, int defaultJobs)
{
    m_settings = ZTToolSettings();
    m_error.clear();
    m_notes.clear();
    QCommandLineParser parser;
    describe(parser);
    if (!parser.parse(arguments)) {
        m_error = ZTFileName::printable(parser.errorText());
        return UsageError;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        return ShowHelp;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        return ShowVersion;
    }
    if (!apply(parser, defaultJobs)) {
        return UsageError;
    }
    noteIgnoredWeight();
    return Run;
}

// The command line is applied in groups, each of which reports the first malformed value.
bool ZTOptionParser::apply(const QCommandLineParser& parser, int defaultJobs)
{
    m_settings.inputs = parser.positionalArguments();
    return applyOutputs(parser) && applyCrops(parser) && applyAnalysis(parser)
        && applyMethods(parser) && applyAreas(parser) && applyFaces(parser)
        && applyHistogram(parser) && applyLimits(parser, defaultJobs) && applyReading(parser)
        && applyCropFiles(parser) && applyReviewPage(parser) && applyBundledPicture();
}

bool ZTOptionParser::applyOutputs(const QCommandLineParser& parser)
{
    ZTToolSettings& s = m_settings;
    if (parser.isSet(optOut)) {
        s.outputDir = parser.value(optOut);
        if (s.outputDir.isEmpty()) {
            return fail(QStringLiteral("--out needs a folder"));
        }
    }
    s.writeSalienceMap = !parser.isSet(optNoMap);
    s.writeMaps = parser.isSet(optMaps);
    s.writeOverlay = parser.isSet(optOverlay);
    s.json = parser.isSet(optJson);
    s.quiet = parser.isSet(optQuiet);
    s.fastDecode = parser.isSet(optFastDecode);
    return true;
}

bool ZTOptionParser::applyCrops(const QCommandLineParser& parser)
{
    for (const QString& text : parser.values(optCrop)) {
        ZTCropRequest request;
        if (!parseCrop(text, &request)) {
            return fail(QStringLiteral("--crop %1: expected W:H (an aspect) or WxH (a size), "
                                       "with whole numbers from 1 to %2")
                            .arg(text, QString::number(maxCropTerm)));
        }
        m_settings.crops.append(request);
    }
    if (parser.isSet(optNoCrops)) {
        if (!m_settings.crops.isEmpty()) {
            return fail(QStringLiteral("--no-crops and --crop exclude each other"));
        }
    } else if (m_settings.crops.isEmpty()) {
        for (const QString& text : defaultCrops()) {
            ZTCropRequest request;
            parseCrop(text, &request);
            m_settings.crops.append(request);
        }
    }
    if (parser.isSet(optPixelWeight)) {
        const QString value = parser.value(optPixelWeight);
        if (value == QLatin1String("linear")) {
            m_settings.pixelWeight = SalienzPixelWeightLinear;
        } else if (value == QLatin1String("threshold")) {
            m_settings.pixelWeight = SalienzPixelWeightThreshold;
        } else {
            return fail(
                QStringLiteral("--pixel-weight %1: expected linear or threshold").arg(value));
        }
    }
    return true;
}

bool ZTOptionParser::applyAnalysis(const QCommandLineParser& parser)
{
    ZTToolSettings& s = m_settings;
    if (parser.isSet(optGrid) && !parseSize(parser.value(optGrid), 1, maxGridCells, &s.grid)) {
        return fail(QStringLiteral("--grid %1: expected CxR, columns and rows from 1 to %2")
                        .arg(parser.value(optGrid), QString::number(maxGridCells)));
    }
    if (parser.isSet(optSize)
        && !parseSize(parser.value(optSize), 1, maxAnalysisSide, &s.analysisSize)) {
        return fail(QStringLiteral("--size %1: expected WxH, sides from 1 to %2")
                        .arg(parser.value(optSize), QString::number(maxAnalysisSide)));
    }
    return true;
}

bool ZTOptionParser::applyMethods(const QCommandLineParser& parser)
{
    ZTToolSettings& s = m_settings;
    for (const QString& text : parser.values(optWeight)) {
        const int equals = text.indexOf(QLatin1Char('='));
        ZTSalienzMethod method;
        int weight = 0;
        if (equals < 0 || !ZTToolSettings::methodFromName(text.left(equals), &method)
            || !parseBoundedInt(text.mid(equals + 1), -maxWeight, maxWeight, &weight)) {
            return fail(QStringLiteral("--weight %1: expected NAME=N with NAME one of %2 and N "
                                       "from %3 to %4")
                            .arg(text, methodNames(), QString::number(-maxWeight),
                                QString::number(maxWeight)));
        }
        s.weights.insert(method, weight);
    }
    for (const QString& name : parser.values(optDisable)) {
        ZTSalienzMethod method;
        if (!ZTToolSettings::methodFromName(name, &method)) {
            return fail(QStringLiteral("--disable %1: unknown method; the methods are %2")
                            .arg(name, methodNames()));
        }
        s.disabled.append(method);
    }
    return true;
}

bool ZTOptionParser::applyAreas(const QCommandLineParser& parser)
{
    for (const QString& text : parser.values(optArea)) {
        const QStringList parts = text.split(QLatin1Char(','));
        int values[4] = {};
        bool ok = parts.size() == 4;
        for (int i = 0; ok && i < 4; ++i) {
            ok = parseBoundedInt(parts.at(i), i < 2 ? 0 : 1, maxAreaCoordinate, &values[i]);
        }
        if (!ok) {
            return fail(QStringLiteral("--area %1: expected X,Y,W,H in picture pixels, X and Y "
                                       "from 0, W and H from 1, all up to %2")
                            .arg(text, QString::number(maxAreaCoordinate)));
        }
        m_settings.areas.append(QRect(values[0], values[1], values[2], values[3]));
    }
    return true;
}

bool ZTOptionParser::applyFaces(const QCommandLineParser& parser)
{
    m_settings.faces = parser.isSet(optFaces);
    if (m_settings.faces && !ZTFaceDetector::isBuiltIn()) {
        return fail(QStringLiteral("--faces: this build of ztroi has no face detection (it was "
                                   "built without OpenCV)"));
    }
    return true;
}

bool ZTOptionParser::applyHistogram(const QCommandLineParser& parser)
{
    ZTHistogramSettings& h = m_settings.histogram;
    if (parser.isSet(optHistBins)) {
        int bins1 = 0;
        int bins2 = 0;
        const auto parseBins
            = [](const QString& t, int* v) { return parseBoundedInt(t, 1, maxHistogramBins, v); };
        if (!parseOneOrTwo(parser.value(optHistBins), parseBins, &bins1, &bins2)) {
            return fail(QStringLiteral("--hist-bins %1: expected N or N1,N2 from 1 to %2")
                            .arg(parser.value(optHistBins), QString::number(maxHistogramBins)));
        }
        h.bins1 = bins1;
        h.bins2 = bins2;
    }
    if (parser.isSet(optHistBlocks)) {
        QSize blocks;
        if (!parseSize(parser.value(optHistBlocks), 1, maxHistogramBlocks, &blocks)) {
            return fail(QStringLiteral("--hist-blocks %1: expected CxR from 1 to %2")
                            .arg(parser.value(optHistBlocks), QString::number(maxHistogramBlocks)));
        }
        h.columns = blocks.width();
        h.rows = blocks.height();
    }
    if (parser.isSet(optHistThreshold)) {
        double threshold = 0.0;
        if (!parseFiniteDouble(parser.value(optHistThreshold), -1e9, 1e9, &threshold)) {
            return fail(QStringLiteral("--hist-threshold %1: expected a number")
                            .arg(parser.value(optHistThreshold)));
        }
        h.threshold = threshold;
    }
    if (parser.isSet(optHistMin)) {
        double minWidth = 0.0;
        double minHeight = 0.0;
        const auto parseShare
            = [](const QString& t, double* v) { return parseFiniteDouble(t, 0.0, 1.0, v); };
        if (!parseOneOrTwo(parser.value(optHistMin), parseShare, &minWidth, &minHeight)) {
            return fail(QStringLiteral("--hist-min %1: expected F or FW,FH from 0 to 1")
                            .arg(parser.value(optHistMin)));
        }
        h.minWidth = minWidth;
        h.minHeight = minHeight;
    }
    return true;
}

bool ZTOptionParser::applyLimits(const QCommandLineParser& parser, int defaultJobs)
{
    ZTToolSettings& s = m_settings;
    if (parser.isSet(optMaxPixels)) {
        if (!parseBoundedWhole<qint64>(
                parser.value(optMaxPixels), 1, ZTImageLoader::largestMaxPixels, &s.maxPixels)) {
            return fail(QStringLiteral("--max-pixels %1: expected a whole number from 1 to %2")
                            .arg(parser.value(optMaxPixels),
                                QString::number(ZTImageLoader::largestMaxPixels)));
        }
    }
    s.jobs = std::clamp(defaultJobs, 1, maxJobs);
    if (parser.isSet(optJobs) && !parseBoundedInt(parser.value(optJobs), 1, maxJobs, &s.jobs)) {
        return fail(QStringLiteral("--jobs %1: expected a whole number from 1 to %2")
                        .arg(parser.value(optJobs), QString::number(maxJobs)));
    }
    return true;
}

// How pictures are found and read: lists of paths in the order given, the formats read, the
// memory budget, and whether the decoders' messages are shown.
bool ZTOptionParser::applyReading(const QCommandLineParser& parser)
{
    ZTToolSettings& s = m_settings;
    QStringList lists[2] = {parser.values(optList), parser.values(optList0)};
    for (const QString& name : parser.optionNames()) {
        const int kind = name == QLatin1String(optList) ? 0
            : name == QLatin1String(optList0)           ? 1
                                                        : -1;
        if (kind >= 0 && !lists[kind].isEmpty()) {
            s.inputLists.append({lists[kind].takeFirst(), kind == 0 ? '\n' : '\0'});
        }
    }
    if (parser.isSet(optFormats)) {
        s.formats.clear();
        for (const QString& name : parser.value(optFormats).split(QLatin1Char(','))) {
            const QByteArray format = name == QLatin1String("jpg") ? "jpeg"
                : name == QLatin1String("tif")                     ? "tiff"
                                                                   : name.toLatin1();
            if (!ZTImageLoader::allowableFormats().contains(format)) {
                return fail(
                    QStringLiteral(
                        "--input-formats %1: expected formats from %2, separated by commas")
                        .arg(parser.value(optFormats),
                            QString::fromLatin1(ZTImageLoader::allowableFormats().join(", "))));
            }
            s.formats.append(format);
        }
    }
    if (parser.isSet(optMemory)) {
        qint64 megabytes = 0;
        if (!parseBoundedWhole<qint64>(
                parser.value(optMemory), 1, maxMemoryMegabytes, &megabytes)) {
            return fail(QStringLiteral("--memory %1: expected megabytes from 1 to %2")
                            .arg(parser.value(optMemory), QString::number(maxMemoryMegabytes)));
        }
        s.memoryBudget = megabytes << 20;
    }
    s.verbose = parser.isSet(optVerbose);
    return true;
}

// Crops written as pictures. Their options without --write-crops would do nothing, so they are
// refused rather than ignored; so is an output size with more pixels than --max-pixels allows.
bool ZTOptionParser::applyCropFiles(const QCommandLineParser& parser)
{
    ZTToolSettings& s = m_settings;
    s.writeCrops = parser.isSet(optWriteCrops);
    if (!s.writeCrops) {
        for (const char* option : {optFormat, optQuality, optMaxSide}) {
            if (parser.isSet(option)) {
                return fail(QStringLiteral("--%1 applies to written crops: add --write-crops")
                                .arg(QLatin1String(option)));
            }
        }
        return true;
    }
    if (s.crops.isEmpty()) {
        return fail(QStringLiteral("--write-crops and --no-crops exclude each other"));
    }
    for (const ZTCropRequest& crop : qAsConst(s.crops)) {
        const QSize size = crop.outputSize;
        if (size.isValid() && qint64(size.width()) * size.height() > s.maxPixels) {
            return fail(QStringLiteral("--crop %1: more than %2 pixels to write (--max-pixels)")
                            .arg(crop.text, QString::number(s.maxPixels)));
        }
    }
    if (parser.isSet(optFormat)) {
        s.cropFormat = parser.value(optFormat).toLower();
        if (s.cropFormat == QLatin1String("jpeg")) {
            s.cropFormat = QStringLiteral("jpg");
        }
        if (!ZTCropWriter::formats().contains(s.cropFormat)) {
            return fail(QStringLiteral("--format %1: expected %2")
                            .arg(parser.value(optFormat), ZTCropWriter::formats().join('|')));
        }
    }
    if (parser.isSet(optQuality)
        && !parseBoundedInt(parser.value(optQuality), 0, maxQuality, &s.cropQuality)) {
        return fail(QStringLiteral("--quality %1: expected a whole number from 0 to %2")
                        .arg(parser.value(optQuality), QString::number(maxQuality)));
    }
    if (parser.isSet(optMaxSide)
        && !parseBoundedInt(parser.value(optMaxSide), 1, maxCropTerm, &s.maxCropSide)) {
        return fail(QStringLiteral("--max-side %1: expected a whole number from 1 to %2")
                        .arg(parser.value(optMaxSide), QString::number(maxCropTerm)));
    }
    return true;
}

bool ZTOptionParser::applyReviewPage(const QCommandLineParser& parser)
{
    if (parser.isSet(optReport)) {
        m_settings.reviewPage = parser.value(optReport);
        if (m_settings.reviewPage.isEmpty()) {
            return fail(QStringLiteral("--report needs a file name"));
        }
        // The page replaces the file it names; a name without the suffix is more likely a
        // picture given by mistake (--report photo.jpg) than a page.
        const QString name = m_settings.reviewPage.toLower();
        if (!name.endsWith(QLatin1String(".html")) && !name.endsWith(QLatin1String(".htm"))) {
            return fail(QStringLiteral("--report %1: the review page's name must end in .html "
                                       "or .htm")
                            .arg(m_settings.reviewPage));
        }
    }
    return true;
}

// Without pictures and without --list, the run shows what the tool does on the bundled
// photograph: its overlay. Also refuses a run with every method off.
bool ZTOptionParser::applyBundledPicture()
{
    ZTToolSettings& s = m_settings;
    bool anyMethod = false;
    for (const ZTSalienzMethod method : ZTToolSettings::allMethods()) {
        anyMethod = anyMethod || s.isEnabled(method);
    }
    if (!anyMethod) {
        return fail(QStringLiteral("every method is disabled; nothing to analyse"));
    }

    if (s.inputs.isEmpty() && s.inputLists.isEmpty()) {
        s.bundledPicture = true;
        s.inputs.append(bundledPicturePath());
        s.writeOverlay = true;
    }
    return true;
}

// With one method enabled the mixer returns that method's map as it is, so its weight has no
// effect. A weight of zero or below says that the user expected one; they are told once.
void ZTOptionParser::noteIgnoredWeight()
{
    QList<ZTSalienzMethod> enabled;
    for (const ZTSalienzMethod method : ZTToolSettings::allMethods()) {
        if (m_settings.isEnabled(method)) {
            enabled.append(method);
        }
    }
    if (enabled.size() != 1 || !m_settings.weights.contains(enabled.first())) {
        return;
    }
    const int weight = m_settings.weights.value(enabled.first());
    if (weight <= 0) {
        m_notes.append(QStringLiteral("%1 is the only method enabled, so its map is used as it "
                                      "is: the weight %2 has no effect")
                           .arg(ZTToolSettings::methodName(enabled.first()))
                           .arg(weight));
    }
}

QString ZTOptionParser::helpText() const
{
    QCommandLineParser parser;
    describe(parser);
    QString text = parser.helpText();
    // Qt starts with the program path as it was typed; the name reads better.
    const int firstLineEnd = text.indexOf(QLatin1Char('\n'));
    text.replace(0, firstLineEnd, QStringLiteral("Usage: ztroi [options] [image...]"));
    text += QStringLiteral(
        "\nMethods (for --weight and --disable): %1.\n"
        "  sobel: colour edges; center: a prior for the middle of the picture; histogram: large\n"
        "  areas of one colour, counted negatively; areas: the --area rectangles and the heads\n"
        "  of --faces; contrast: colour contrast against the surroundings.\n"
        "\nOutput, per picture NAME (the file name without its suffix; -2, -3 ... for repeats):\n"
        "  NAME.salience.png   the mixed salience map at the analysis size (8-bit grey, 0 ... "
        "255),\n"
        "                      unless --no-map\n"
        "  NAME.METHOD.png     with --maps\n"
        "  NAME.overlay.jpg    with --overlay\n"
        "  NAME.crop-REQUEST.SUFFIX\n"
        "                      with --write-crops, one per crop: REQUEST is an aspect with x\n"
        "                      for : or a size with px after it (crop-16x9, crop-1080x1350px);\n"
        "                      upright, with the colour profile\n"
        "                      kept and no other metadata\n"
        "Crops and the focal point are given in pixels of the picture as it is shown (after its\n"
        "EXIF orientation). A crop is centred where the salience cannot place it, and says so.\n"
        "Declared areas (--area, the heads of --faces) come first: a crop keeps them all whole\n"
        "when it can, otherwise the most of them that fit together (of equally many, those\n"
        "with the most pixels), and the salience places it only among the positions that\n"
        "keep them.\n"
        "A file is replaced only when ztroi wrote it for the same picture, unchanged since;\n"
        "any other stays and the new file takes the name NAME-2...; symbolic links, folders\n"
        "and inputs are never replaced.\n"
        "\nExit status: 0 when every picture was analysed, 1 when any failed or standard output\n"
        "could not be written, 2 for a usage error, 130 or 143 when stopped by SIGINT or "
        "SIGTERM.\n")
                .arg(methodNames());
    return text;
}
