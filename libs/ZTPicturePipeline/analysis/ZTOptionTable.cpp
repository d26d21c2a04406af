#include "analysis/ZTOptionTable.h"

#include "analysis/ZTPictureAnalyzer.h"
#include "crops/ZTCropWriter.h"
#include "faces/ZTFaceDetector.h"
#include "input/ZTImageLoader.h"

#include <QRegularExpression>

#include <cmath>
#include <numeric>

namespace {

using Row = ZTOptionRow;
using S = ZTAnalysisSettings;

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

bool parseInt(const QString& text, int min, int max, int* value)
{
    qint64 parsed = 0;
    if (!ZTOptionTable::parseWhole(text, min, max, &parsed)) {
        return false;
    }
    *value = int(parsed);
    return true;
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

// "sobel=20, center=2, ...": every method with its default weight.
QString defaultWeights()
{
    QStringList weights;
    for (const ZTSalienzMethod method : S::allMethods()) {
        weights.append(
            QStringLiteral("%1=%2").arg(S::methodName(method)).arg(S::defaultWeight(method)));
    }
    return weights.join(QLatin1String(", "));
}

Row flag(const char* name, const QString& help, std::function<void(S&)> set)
{
    Row row;
    row.name = QLatin1String(name);
    row.help = help;
    row.set = [set](S& s, const QString&, QString*) {
        set(s);
        return true;
    };
    return row;
}

Row value(const char* name, const char* syntax, const QString& help, const QString& expected,
    Row::Setter set, Row::Kind kind = Row::Value)
{
    Row row;
    row.name = QLatin1String(name);
    row.syntax = QLatin1String(syntax);
    row.help = help;
    row.kind = kind;
    row.expected = expected;
    row.set = std::move(set);
    return row;
}

// A row whose value holds whole numbers from min to max; %1 and %2 in expected are the limits.
Row limited(const char* name, const char* syntax, const QString& help, qint64 min, qint64 max,
    const QString& expected, Row::Setter set, Row::Kind kind = Row::Value)
{
    Row row = value(name, syntax, help, expected.arg(min).arg(max), std::move(set), kind);
    row.min = min;
    row.max = max;
    return row;
}

Row named(Row row, const char* shortName)
{
    row.shortName = QLatin1String(shortName);
    return row;
}

Row needing(Row row, const char* option)
{
    row.needs = QLatin1String(option);
    return row;
}

QList<Row> outputRows()
{
    return {
        named(value("out", "dir",
                  QStringLiteral("Write the output files into <dir> (default: ztroi-out)."),
                  QString(),
                  [](S& s, const QString& v, QString* error) {
                      s.outputDir = v;
                      if (v.isEmpty()) {
                          *error = QStringLiteral("--out needs a folder");
                      }
                      return !v.isEmpty();
                  }),
            "o"),
        flag("no-map",
            QStringLiteral("Do not write the salience map (NAME.salience.png); crops, focal point "
                           "and grid scores are still reported."),
            [](S& s) { s.writeSalienceMap = false; }),
        flag("maps", QStringLiteral("Also write each method's own map (NAME.METHOD.png)."),
            [](S& s) { s.writeMaps = true; }),
        flag("overlay",
            QStringLiteral("Also write the picture with the salience as a heat overlay and every "
                           "crop drawn on it (NAME.overlay.jpg)."),
            [](S& s) { s.writeOverlay = true; }),
    };
}

QList<Row> cropRows()
{
    return {
        named(
            limited(
                "crop", "W:H|WxH",
                QStringLiteral("Suggest a crop: W:H is an aspect ratio, WxH an output size (its "
                               "aspect counts). Repeatable. Without any, every picture gets "
                               "1:1, 4:5 and 16:9."),
                1, ZTOptionTable::maxCropTerm,
                QStringLiteral("W:H (an aspect) or WxH (a size), with whole numbers from %1 to %2"),
                [](S& s, const QString& v, QString*) {
                    ZTCropRequest request;
                    if (!ZTOptionTable::parseCrop(v, &request)) {
                        return false;
                    }
                    s.crops.append(request);
                    return true;
                },
                Row::Repeatable),
            "c"),
        flag("no-crops", QStringLiteral("Suggest no crops."), [](S&) {}),
        flag("write-crops",
            QStringLiteral("Also write each crop as a picture (NAME.crop-16x9.jpg, "
                           "NAME.crop-1080x1350px.jpg): WxH crops scaled to exactly that size, W:H "
                           "crops at the picture's resolution."),
            [](S& s) { s.writeCrops = true; }),
        needing(value("format", "jpg|png|webp",
                    QStringLiteral("Format of written crops (default: the picture's own where it "
                                   "is one of these, else jpg)."),
                    ZTCropWriter::formats().join(QLatin1Char('|')),
                    [](S& s, const QString& v, QString*) {
                        s.cropFormat = v.toLower();
                        if (s.cropFormat == QLatin1String("jpeg")) {
                            s.cropFormat = QStringLiteral("jpg");
                        }
                        return ZTCropWriter::formats().contains(s.cropFormat);
                    }),
            "write-crops"),
        needing(limited("quality", "N",
                    QStringLiteral("Quality of written JPEG and WebP crops, 0-100 (default 90); "
                                   "PNG is lossless."),
                    0, ZTOptionTable::maxQuality, QStringLiteral("a whole number from %1 to %2"),
                    [](S& s, const QString& v, QString*) {
                        return parseInt(v, 0, ZTOptionTable::maxQuality, &s.cropQuality);
                    }),
            "write-crops"),
        needing(limited("max-side", "N",
                    QStringLiteral("Scale written W:H crops down to at most N pixels on their "
                                   "longer side."),
                    1, ZTOptionTable::maxCropTerm, QStringLiteral("a whole number from %1 to %2"),
                    [](S& s, const QString& v, QString*) {
                        return parseInt(v, 1, ZTOptionTable::maxCropTerm, &s.maxCropSide);
                    }),
            "write-crops"),
        needing(flag("no-enlarge",
                    QStringLiteral("Never enlarge a written WxH crop: where its window is "
                                   "smaller than WxH, write the largest size of exactly the "
                                   "aspect W:H that the window holds."),
                    [](S& s) { s.noEnlarge = true; }),
            "write-crops"),
        value("pixel-weight", "linear|threshold",
            QStringLiteral("How crops weigh the map: linear (every pixel, the default) or "
                           "threshold (only pixels above 153)."),
            QStringLiteral("linear or threshold"),
            [](S& s, const QString& v, QString*) {
                if (v == QLatin1String("linear")) {
                    s.pixelWeight = SalienzPixelWeightLinear;
                } else if (v == QLatin1String("threshold")) {
                    s.pixelWeight = SalienzPixelWeightThreshold;
                } else {
                    return false;
                }
                return true;
            }),
    };
}

QList<Row> analysisRows()
{
    using T = ZTOptionTable;
    return {
        limited("grid", "CxR",
            QStringLiteral("Report grid scores for C columns and R rows (1-100)."), 1,
            T::maxGridCells, QStringLiteral("CxR, columns and rows from %1 to %2"),
            [](S& s, const QString& v, QString*) {
                return T::parseSize(v, 1, T::maxGridCells, &s.grid);
            }),
        named(limited("size", "WxH",
                  QStringLiteral("Analysis size: each picture is scaled to fit into it (default "
                                 "480x480, sides 1-4096)."),
                  1, T::maxAnalysisSide, QStringLiteral("WxH, sides from %1 to %2"),
                  [](S& s, const QString& v, QString*) {
                      return T::parseSize(v, 1, T::maxAnalysisSide, &s.analysisSize);
                  }),
            "s"),
        limited(
            "weight", "NAME=N",
            QStringLiteral("Weight of a method, -1000 to 1000 (defaults: %1). Repeatable.")
                .arg(defaultWeights()),
            -T::maxWeight, T::maxWeight,
            QStringLiteral("NAME=N with NAME one of %1 and N from %2 to %3")
                .arg(T::methodNames(), QStringLiteral("%1"), QStringLiteral("%2")),
            [](S& s, const QString& v, QString*) {
                const int equals = v.indexOf(QLatin1Char('='));
                ZTSalienzMethod method;
                int weight = 0;
                if (equals < 0 || !S::methodFromName(v.left(equals), &method)
                    || !parseInt(v.mid(equals + 1), -T::maxWeight, T::maxWeight, &weight)) {
                    return false;
                }
                s.weights.insert(method, weight);
                return true;
            },
            Row::Repeatable),
        value(
            "disable", "NAME", QStringLiteral("Switch a method off. Repeatable."),
            QStringLiteral("one of %1").arg(T::methodNames()),
            [](S& s, const QString& v, QString* error) {
                ZTSalienzMethod method;
                if (!S::methodFromName(v, &method)) {
                    *error = QStringLiteral("--disable %1: unknown method; the methods are %2")
                                 .arg(v, T::methodNames());
                    return false;
                }
                s.disabled.append(method);
                return true;
            },
            Row::Repeatable),
        limited(
            "area", "X,Y,W,H",
            QStringLiteral("A very important area in picture pixels (after EXIF orientation); "
                           "enables the areas method. Repeatable."),
            0, T::maxAreaCoordinate,
            QStringLiteral("X,Y,W,H in picture pixels, X and Y from %1, W and H from 1, all up "
                           "to %2"),
            [](S& s, const QString& v, QString*) {
                const QStringList parts = v.split(QLatin1Char(','));
                int values[4] = {};
                bool ok = parts.size() == 4;
                // A position may be 0; a side may not.
                for (int i = 0; ok && i < 4; ++i) {
                    ok = parseInt(parts.at(i), i < 2 ? 0 : 1, T::maxAreaCoordinate, &values[i]);
                }
                if (ok) {
                    s.areas.append(QRect(values[0], values[1], values[2], values[3]));
                }
                return ok;
            },
            Row::Repeatable),
        flag("faces",
            QStringLiteral("Find faces and make every head a very important area, like --area "
                           "(at most %1 faces a picture, the largest): with the neural "
                           "detector where its model is installed, which is then the default, "
                           "else with the Haar cascades.")
                .arg(ZTPictureAnalyzer::maxFaces),
            [](S& s) {
                s.faces = true;
                s.noFaces = false;
            }),
        flag("no-faces", QStringLiteral("Find no faces, not even by default."),
            [](S& s) {
                s.faces = false;
                s.noFaces = true;
            }),
    };
}

QList<Row> histogramRows()
{
    using T = ZTOptionTable;
    return {
        limited("hist-bins", "N[,N2]",
            QStringLiteral(
                "Histogram method: chroma bins per channel, N or N1,N2 (1-256; default 32)."),
            1, T::maxHistogramBins, QStringLiteral("N or N1,N2 from %1 to %2"),
            [](S& s, const QString& v, QString*) {
                int bins1 = 0;
                int bins2 = 0;
                const auto parseBins = [](const QString& t, int* b) {
                    return parseInt(t, 1, T::maxHistogramBins, b);
                };
                if (!parseOneOrTwo(v, parseBins, &bins1, &bins2)) {
                    return false;
                }
                s.histogram.bins1 = bins1;
                s.histogram.bins2 = bins2;
                return true;
            }),
        limited("hist-blocks", "CxR",
            QStringLiteral("Histogram method: block columns x rows (1-100 each; default 15x11)."),
            1, T::maxHistogramBlocks, QStringLiteral("CxR from %1 to %2"),
            [](S& s, const QString& v, QString*) {
                QSize blocks;
                if (!T::parseSize(v, 1, T::maxHistogramBlocks, &blocks)) {
                    return false;
                }
                s.histogram.columns = blocks.width();
                s.histogram.rows = blocks.height();
                return true;
            }),
        value("hist-threshold", "X",
            QStringLiteral("Histogram method: largest chi-square distance that joins two blocks "
                           "(default 0.67)."),
            QStringLiteral("a number"),
            [](S& s, const QString& v, QString*) {
                double threshold = 0.0;
                if (!parseFiniteDouble(v, -1e9, 1e9, &threshold)) {
                    return false;
                }
                s.histogram.threshold = threshold;
                return true;
            }),
        limited("hist-min", "F[,FH]",
            QStringLiteral("Histogram method: share of the grid's width (and height) that a "
                           "segment must exceed to count, F or FW,FH (0-1; default 0.5,0.25)."),
            0, 1, QStringLiteral("F or FW,FH from %1 to %2"),
            [](S& s, const QString& v, QString*) {
                double minWidth = 0.0;
                double minHeight = 0.0;
                const auto parseShare
                    = [](const QString& t, double* f) { return parseFiniteDouble(t, 0.0, 1.0, f); };
                if (!parseOneOrTwo(v, parseShare, &minWidth, &minHeight)) {
                    return false;
                }
                s.histogram.minWidth = minWidth;
                s.histogram.minHeight = minHeight;
                return true;
            }),
    };
}

QList<Row> readingRows()
{
    return {
        flag("fast-decode",
            QStringLiteral("Let JPEG pictures decode at a reduced size (never below the analysis "
                           "size, the written crops or the review page's thumbnails). Faster; "
                           "maps may then differ slightly from a full decode."),
            [](S& s) { s.fastDecode = true; }),
        limited("max-pixels", "N",
            QStringLiteral("Refuse pictures with more pixels than N (at most 2^40), checked "
                           "from the header before decoding (default 100000000)."),
            1, ZTImageLoader::largestMaxPixels, QStringLiteral("a whole number from %1 to %2"),
            [](S& s, const QString& v, QString*) {
                return ZTOptionTable::parseWhole(
                    v, 1, ZTImageLoader::largestMaxPixels, &s.maxPixels);
            }),
        value("input-formats", "list",
            QStringLiteral("The picture formats to read, comma-separated, from jpeg, png, gif, "
                           "bmp, webp, tiff, ico, cur, mng (default: the first six)."),
            QStringLiteral("formats from %1, separated by commas")
                .arg(QString::fromLatin1(ZTImageLoader::allowableFormats().join(", "))),
            [](S& s, const QString& v, QString*) {
                s.formats.clear();
                for (const QString& name : v.split(QLatin1Char(','))) {
                    const QByteArray format = name == QLatin1String("jpg") ? "jpeg"
                        : name == QLatin1String("tif")                     ? "tiff"
                                                                           : name.toLatin1();
                    if (!ZTImageLoader::allowableFormats().contains(format)) {
                        return false;
                    }
                    s.formats.append(format);
                }
                return true;
            }),
        limited("memory", "MB",
            QStringLiteral("Memory that the pictures in progress may take together, in MB "
                           "(default 4096). Larger pictures are refused; jobs wait for room."),
            1, ZTOptionTable::maxMemoryMegabytes, QStringLiteral("megabytes from %1 to %2"),
            [](S& s, const QString& v, QString*) {
                qint64 megabytes = 0;
                if (!ZTOptionTable::parseWhole(
                        v, 1, ZTOptionTable::maxMemoryMegabytes, &megabytes)) {
                    return false;
                }
                s.memoryBudget = megabytes << 20;
                return true;
            }),
    };
}

QList<Row> allRows()
{
    return outputRows() + cropRows() + analysisRows() + histogramRows() + readingRows();
}

// Crops written as pictures: an output size with more pixels than --max-pixels allows would be
// refused at every picture, so the command line is refused instead.
bool checkCropFiles(const S& s, const QSet<QString>& given, QString* error)
{
    if (!s.writeCrops) {
        return true;
    }
    if (given.contains(QStringLiteral("no-crops"))) {
        *error = QStringLiteral("--write-crops and --no-crops exclude each other");
        return false;
    }
    for (const ZTCropRequest& crop : s.crops) {
        const QSize size = crop.outputSize;
        if (size.isValid() && qint64(size.width()) * size.height() > s.maxPixels) {
            *error = QStringLiteral("--crop %1: more than %2 pixels to write (--max-pixels)")
                         .arg(crop.text, QString::number(s.maxPixels));
            return false;
        }
    }
    return true;
}

} // namespace

const QList<ZTOptionRow>& ZTOptionTable::rows()
{
    static const QList<ZTOptionRow> table = allRows();
    return table;
}

const ZTOptionRow* ZTOptionTable::find(const QString& name)
{
    for (const ZTOptionRow& row : rows()) {
        if (row.name == name || (!row.shortName.isEmpty() && row.shortName == name)) {
            return &row;
        }
    }
    return nullptr;
}

QStringList ZTOptionTable::defaultCrops()
{
    return {QStringLiteral("1:1"), QStringLiteral("4:5"), QStringLiteral("16:9")};
}

bool ZTOptionTable::finish(ZTAnalysisSettings& s, const QSet<QString>& given, QString* error)
{
    if (given.contains(QStringLiteral("no-crops"))) {
        if (!s.crops.isEmpty()) {
            *error = QStringLiteral("--no-crops and --crop exclude each other");
            return false;
        }
    } else if (s.crops.isEmpty()) {
        for (const QString& text : defaultCrops()) {
            ZTCropRequest request;
            parseCrop(text, &request);
            s.crops.append(request);
        }
    }
    if (s.faces && !ZTFaceDetector::isBuiltIn()) {
        *error = QStringLiteral("--faces: this build of ztroi has no face detection (it was "
                                "built without OpenCV)");
        return false;
    }
    if (!checkCropFiles(s, given, error)) {
        return false;
    }
    bool anyMethod = false;
    for (const ZTSalienzMethod method : S::allMethods()) {
        anyMethod = anyMethod || s.isEnabled(method);
    }
    if (!anyMethod) {
        *error = QStringLiteral("every method is disabled; nothing to analyse");
        return false;
    }
    return true;
}

bool ZTOptionTable::settingsFromKeywords(const QList<QPair<QString, QStringList>>& keywords,
    ZTAnalysisSettings* settings, QString* error, bool* unknown)
{
    *unknown = false;
    QSet<QString> given;
    for (const auto& [name, values] : keywords) {
        const ZTOptionRow* row = find(name);
        if (!row || row->name != name) {
            *unknown = true;
            *error = name;
            return false;
        }
        given.insert(name);
    }
    // The rows' order, as on the command line, so that the same mistakes give the same message.
    for (const ZTOptionRow& row : rows()) {
        for (const auto& [name, values] : keywords) {
            if (name != row.name) {
                continue;
            }
            if (!row.needs.isEmpty() && !given.contains(row.needs)) {
                *error = QStringLiteral("--%1 applies to written crops: add --%2")
                             .arg(row.name, row.needs);
                return false;
            }
            for (const QString& value : values) {
                if (row.kind == ZTOptionRow::Flag && !value.isEmpty()) {
                    *error = QStringLiteral("--%1 takes no value, not '%2'").arg(row.name, value);
                    return false;
                }
                if (!row.apply(*settings, value, error)) {
                    return false;
                }
            }
        }
    }
    return finish(*settings, given, error);
}

bool ZTOptionTable::parseWhole(const QString& text, qint64 min, qint64 max, qint64* value)
{
    bool ok = isWholeNumber(text);
    const qlonglong parsed = ok ? text.toLongLong(&ok) : 0;
    if (!ok || parsed < min || parsed > max) {
        return false;
    }
    *value = parsed;
    return true;
}

bool ZTOptionTable::parseSize(const QString& text, int min, int max, QSize* size)
{
    static const QRegularExpression pattern(QStringLiteral("\\A([0-9]+)x([0-9]+)\\z"));
    const QRegularExpressionMatch match = pattern.match(text);
    int width = 0;
    int height = 0;
    if (!match.hasMatch() || !parseInt(match.captured(1), min, max, &width)
        || !parseInt(match.captured(2), min, max, &height)) {
        return false;
    }
    *size = QSize(width, height);
    return true;
}

bool ZTOptionTable::parseCrop(const QString& text, ZTCropRequest* request)
{
    static const QRegularExpression pattern(QStringLiteral("\\A([0-9]+)([:x])([0-9]+)\\z"));
    const QRegularExpressionMatch match = pattern.match(text);
    int width = 0;
    int height = 0;
    if (!match.hasMatch() || !parseInt(match.captured(1), 1, maxCropTerm, &width)
        || !parseInt(match.captured(3), 1, maxCropTerm, &height)) {
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

QString ZTOptionTable::methodNames()
{
    QStringList names;
    for (const ZTSalienzMethod method : S::allMethods()) {
        names.append(S::methodName(method));
    }
    return names.join(QLatin1String(", "));
}
