// ztroi._ztroi: the library's classes and ztroi's analysis of one picture for Python. The package
// ztroi (ztroi/__init__.py) hands it keyword arguments as ztroi's option names with their values
// as text, which the option table applies to the settings directly; the analysis and the writing
// of files are the picture pipeline's own, the same that ztroi calls.
//
// Every analysis runs without the GIL, so Python threads analyse in parallel; a NumPy array stays
// referenced by its ZTNumpyPicture while the library reads it.

#include "ZTNumpyPicture.h"
#include "ZTPythonMixer.h"

#include "analysis/ZTOptionTable.h"
#include "analysis/ZTOutputWriter.h"
#include "analysis/ZTPictureAnalyzer.h"
#include "crops/ZTCropWriter.h"
#include "faces/ZTFaceDetector.h"
#include "input/ZTImageLoader.h"
#include "input/ZTMemoryBudget.h"
#include "output/ZTOutputFolder.h"
#include "report/ZTReportFormatter.h"
#include "text/ZTFileName.h"

#include <ZTRegionOfInterestVersion.h>
#include <ZTSalienzClusterer.h>
#include <ZTSalienzMaximizerHorizontal.h>
#include <ZTSalienzMaximizerVertical.h>

#include <QBuffer>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonObject>

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>

namespace py = pybind11;
using namespace pybind11::literals;

namespace {

// Options by name with their values, as the bytes of os.fsencode(), so that any file name works.
using Keywords = std::vector<std::pair<std::string, std::vector<std::string>>>;

QString fromBytes(const std::string& bytes)
{
    return ZTFileName::fromBytes(QByteArray::fromStdString(bytes));
}

// The settings of an analysis asked for by keyword arguments, through ztroi's option table:
// TypeError names a keyword that is no option of an analysis, ValueError gives the tool's message
// for a malformed value.
ZTAnalysisSettings settingsFromKeywords(const Keywords& keywords)
{
    QList<QPair<QString, QStringList>> options;
    for (const auto& [name, values] : keywords) {
        QStringList texts;
        for (const std::string& value : values) {
            texts.append(fromBytes(value));
        }
        options.append({QString::fromStdString(name), texts});
    }
    ZTAnalysisSettings settings;
    QString error;
    bool unknown = false;
    if (!ZTOptionTable::settingsFromKeywords(options, &settings, &error, &unknown)) {
        if (unknown) {
            throw py::type_error("unexpected keyword argument '"
                + error.replace(QLatin1Char('-'), QLatin1Char('_')).toStdString() + "'");
        }
        throw std::invalid_argument(ZTFileName::printable(error).toStdString());
    }
    return settings;
}

bool isPath(const py::object& object)
{
    return py::isinstance<py::str>(object) || py::isinstance<py::bytes>(object)
        || py::hasattr(object, "__fspath__");
}

QString pathOf(const py::object& object)
{
    const auto bytes = py::module_::import("os").attr("fsencode")(object).cast<std::string>();
    return ZTFileName::fromBytes(QByteArray::fromStdString(bytes));
}

// Python integers do not wrap, so a running sum outside 64 bits is an error, not a surprise:
// the library would wrap it (its maps never come near). pybind11 raises OverflowError for this.
void throwIfRunningSumOverflows(const std::vector<qint64>& values)
{
    qint64 sum = 0;
    for (size_t k = 0; k < values.size(); ++k) {
        if (__builtin_add_overflow(sum, values[k], &sum)) {
            throw std::overflow_error(
                "running_sums: the sum up to entry " + std::to_string(k) + " exceeds 64 bits");
        }
    }
}

py::array_t<qint64> toArray(const QList<qint64>& values)
{
    py::array_t<qint64> array(values.size());
    std::copy(values.cbegin(), values.cend(), array.mutable_data());
    return array;
}

// The face finder of the calling thread and the name of its detector. Loading a detector takes
// longer than many a search, and a detector serves one thread at a time, so every thread keeps
// the one it loaded, until the files that it comes from or the choice change. None when it
// cannot be loaded: the analyzer then tries itself and reports why.
std::pair<ZTFaceFinder, QString> threadFaceFinder(ZTFaceDetector::Choice choice)
{
    struct Loaded
    {
        QStringList files;
        ZTFaceDetector::Choice choice;
        std::unique_ptr<ZTFaceDetector> detector;
    };
    thread_local Loaded loaded;
    const QStringList files = ZTFaceDetector::cascadeFolders() + ZTFaceDetector::modelFiles();
    if (!loaded.detector || loaded.files != files || loaded.choice != choice) {
        auto detector = std::make_unique<ZTFaceDetector>();
        if (!detector->load(choice)) {
            return {};
        }
        loaded = {files, choice, std::move(detector)};
    }
    ZTFaceDetector* const detector = loaded.detector.get();
    return {
        [detector](const QImage& picture) { return detector->detect(picture); }, detector->name()};
}

// The settings with faces found by default where the network and its model are installed,
// and the finder for them.
std::pair<ZTFaceFinder, QString> faceFinderFor(ZTAnalysisSettings& settings)
{
    if (settings.faces) {
        return threadFaceFinder(ZTFaceDetector::Choice::BlazeFaceOrCascades);
    }
    if (settings.noFaces) {
        return {};
    }
    auto found = threadFaceFinder(ZTFaceDetector::Choice::BlazeFaceOnly);
    settings.faces = bool(found.first);
    return found;
}

// What one analysis reads: the file at path, the encoded picture in data, or the decoded
// pixels of image; the report calls it name.
struct PictureSource
{
    QString name;
    QString path;
    QByteArray data;
    QImage image;
};

QString megabytesOverBudget(qint64 needed, qint64 budget)
{
    const auto megabytes = [](qint64 bytes) { return (bytes + (1 << 20) - 1) >> 20; };
    return QStringLiteral("needs about %1 MB, more than the memory budget of %2 MB")
        .arg(megabytes(needed))
        .arg(megabytes(budget));
}

// Decoded pixels are in memory already: the picture must keep to the pixel limit, and its
// analysis (with the copy that the methods read) to the budget, as a file's would.
bool refuseImage(const QImage& image, const ZTAnalysisSettings& settings, ZTPictureReport* report)
{
    const qint64 pixels = qint64(image.width()) * image.height();
    if (pixels > settings.maxPixels) {
        report->fail(ZTError::Kind::TooLarge,
            QStringLiteral("the picture is too large (%1x%2, more than %3 pixels)")
                .arg(image.width())
                .arg(image.height())
                .arg(settings.maxPixels));
        return true;
    }
    constexpr qint64 argbBytesPerPixel = 4;
    const qint64 needed
        = ZTPictureAnalyzer::analysisBytes(settings, image.size()) + pixels * argbBytesPerPixel;
    if (needed > settings.memoryBudget) {
        report->fail(ZTError::Kind::OverBudget, megabytesOverBudget(needed, settings.memoryBudget));
        return true;
    }
    return false;
}

ZTPictureAnalysis analyzeSource(
    const PictureSource& source, const ZTAnalysisSettings& settings, ZTMemoryBudget* budget)
{
    ZTAnalysisSettings withFaces = settings;
    auto [faceFinder, faceDetector] = faceFinderFor(withFaces);
    ZTPictureAnalyzer analyzer(withFaces, std::move(faceFinder), faceDetector);
    analyzer.setMemoryBudget(budget);
    if (!source.image.isNull()) {
        ZTPictureAnalysis refused;
        refused.report.input = source.name;
        if (refuseImage(source.image, withFaces, &refused.report)) {
            return refused;
        }
        // Pixels handed over lose nothing in a PNG, which their crops are therefore written as.
        return analyzer.analyzeImage(source.name, source.image, "png");
    }
    if (source.path.isEmpty()) {
        return analyzer.analyzeData(source.name, source.data);
    }
    return analyzer.analyze(source.path);
}

// Every crop's pixels are held at once, each copied into an array too: together they must fit
// the budget, or the picture fails as one over it does, before any file is written.
void refuseOversizedPixels(ZTPictureAnalysis& analysis, const ZTAnalysisSettings& settings)
{
    constexpr qint64 bytesPerPixel = 8; // the rendered crop and its array
    const ZTCropWriter writer = ZTPictureAnalyzer::cropWriterFor(settings);
    qint64 needed = 0;
    for (const ZTCrop& crop : analysis.report.crops) {
        const QSize size = writer.outputSize(crop.request, crop.rect.size());
        needed += qint64(size.width()) * size.height() * bytesPerPixel;
    }
    if (analysis.report.ok() && needed > settings.memoryBudget) {
        ZTPictureReport failed;
        failed.input = analysis.report.input;
        failed.fail(ZTError::Kind::OverBudget,
            QStringLiteral("the crops' pixels ")
                + megabytesOverBudget(needed, settings.memoryBudget));
        analysis.report = failed;
    }
}

// A crop's pixels as ZTOutputWriter writes them, before encoding: the same window, resampler
// and format. None for a failed picture; MemoryError when a crop cannot be made.
QList<QImage> cropPixels(const ZTPictureAnalysis& analysis, const ZTAnalysisSettings& settings)
{
    QList<QImage> crops;
    if (!analysis.report.ok()) {
        return crops;
    }
    const ZTCropWriter writer = ZTPictureAnalyzer::cropWriterFor(settings);
    const QString suffix = writer.suffixFor(analysis.format);
    for (const ZTCrop& crop : analysis.report.crops) {
        crops.append(writer.render(analysis.picture, analysis.report.inputSize, crop, suffix));
        if (crops.last().isNull()) {
            throw std::bad_alloc();
        }
    }
    return crops;
}

// One picture analysed exactly as ztroi analyses it, and its files written into the output
// folder as ztroi writes them: the record of ztroi's JSON line, and with @p pixels the crops'
// pictures. Throws ZTPictureError when the folder cannot be opened.
QJsonObject analyzePicture(const PictureSource& source, const ZTAnalysisSettings& settings,
    QList<QImage>* pixels = nullptr, QList<ZTCrop>* crops = nullptr)
{
    ZTOutputFolder folder;
    QString error;
    if (settings.writesFiles() && !folder.open(settings.outputDir, {source.name}, &error)) {
        throw ZTPictureError(folder.errorKind(), settings.outputDir, error);
    }
    // A budget of its own for every picture refuses the pictures that ztroi refuses.
    ZTMemoryBudget budget(settings.memoryBudget);
    ZTPictureAnalysis analysis = analyzeSource(source, settings, &budget);
    if (pixels) {
        refuseOversizedPixels(analysis, settings);
    }
    ZTOutputWriter(settings, folder).write(analysis, ZTFileName::outputBase(source.name));
    if (pixels) {
        *pixels = cropPixels(analysis, settings);
    }
    if (crops) {
        *crops = analysis.report.crops;
    }
    return ZTReportFormatter::toJson(analysis.report);
}

// The source that Python names by @p kind: "path" (os.fsencode()'s bytes), "data" (a buffer of
// an encoded picture) or "array" (a NumPy array of pixels in the order @p channels names).
// @p buffer and @p pixels keep Python's memory alive and in place while the analysis reads it.
PictureSource sourceOf(const std::string& kind, const py::object& picture, const QString& name,
    const std::string& channels, std::unique_ptr<py::buffer_info>* buffer,
    std::unique_ptr<ZTNumpyPicture>* pixels)
{
    PictureSource source;
    source.name = name;
    if (kind == "path") {
        source.path = fromBytes(picture.cast<std::string>());
        source.name = source.path;
    } else if (kind == "data") {
        *buffer = std::make_unique<py::buffer_info>(py::buffer(picture).request());
        // One byte more than a file may have is enough to refuse it as too large.
        const qint64 size = std::min<qint64>((*buffer)->size, ZTImageLoader::maxFileBytes + 1);
        source.data = QByteArray::fromRawData(static_cast<const char*>((*buffer)->ptr), int(size));
    } else {
        *pixels = std::make_unique<ZTNumpyPicture>(picture, ZTNumpyPicture::Picture, channels);
        source.image = (*pixels)->image();
    }
    return source;
}

// Python's str of @p text, UTF-16 unit for unit: a file name's undecodable bytes, which
// ZTFileName holds as lone surrogates, come back as os.fsdecode() gives them.
py::str toPython(const QString& text)
{
    int byteOrder = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? -1 : 1;
    PyObject* const object = PyUnicode_DecodeUTF16(reinterpret_cast<const char*>(text.utf16()),
        Py_ssize_t(text.size()) * 2, "surrogatepass", &byteOrder);
    if (!object) {
        throw py::error_already_set();
    }
    return py::reinterpret_steal<py::str>(object);
}

// The Python value that json.loads() gives for the JSON text of @p value: integral numbers as
// int, the others as float.
py::object toPython(const QJsonValue& value)
{
    switch (value.type()) {
    case QJsonValue::Bool:
        return py::bool_(value.toBool());
    case QJsonValue::Double: {
        const double number = value.toDouble();
        constexpr double exactIntegers = 9007199254740992.0; // 2^53
        if (number == std::trunc(number) && std::abs(number) < exactIntegers) {
            return py::int_(qint64(number));
        }
        return py::float_(number);
    }
    case QJsonValue::String:
        return toPython(value.toString());
    case QJsonValue::Array: {
        py::list list;
        for (const QJsonValue& item : value.toArray()) {
            list.append(toPython(item));
        }
        return std::move(list);
    }
    case QJsonValue::Object: {
        py::dict dict;
        const QJsonObject object = value.toObject();
        for (auto it = object.begin(); it != object.end(); ++it) {
            dict[toPython(it.key())] = toPython(it.value());
        }
        return std::move(dict);
    }
    case QJsonValue::Null:
    case QJsonValue::Undefined:
        break;
    }
    return py::none();
}

// Raises the Python exception of @p error's kind, which the package builds.
void raisePictureError(const ZTPictureError& error)
{
    const py::object exception = py::module_::import("ztroi").attr("_picture_error")(
        ZTError::kindName(error.kind()).toStdString(), toPython(error.reason()),
        error.path().isEmpty() ? py::object(py::none()) : py::object(toPython(error.path())));
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exception.ptr())), exception.ptr());
}

ZTSalienzPixelWeightMethod pixelWeightOf(const std::string& name)
{
    if (name == "linear") {
        return SalienzPixelWeightLinear;
    }
    if (name == "threshold") {
        return SalienzPixelWeightThreshold;
    }
    throw py::value_error("pixel_weight '" + name + "': expected linear or threshold");
}

void defineMixer(py::module_& m)
{
    py::class_<ZTPythonMixer>(m, "_Mixer")
        .def(py::init([](const Keywords& keywords) {
            return std::make_unique<ZTPythonMixer>(settingsFromKeywords(keywords));
        }),
            "keywords"_a)
        .def_property_readonly(
            "size",
            [](const ZTPythonMixer& mixer) {
                const QSize size = mixer.settings().analysisSize;
                return py::make_tuple(size.width(), size.height());
            },
            "The analysis size (width, height).")
        .def_property_readonly(
            "methods",
            [](const ZTPythonMixer& mixer) {
                py::list methods;
                for (const ZTSalienzMethod method : ZTAnalysisSettings::allMethods()) {
                    methods.append(
                        py::dict("name"_a = ZTAnalysisSettings::methodName(method).toStdString(),
                            "enabled"_a = mixer.settings().isEnabled(method),
                            "weight"_a = mixer.settings().weight(method)));
                }
                return methods;
            },
            "Each method's name, whether it is enabled and its weight, as analyze_file() reports "
            "them.")
        .def(
            "analyze",
            [](ZTPythonMixer& mixer, const py::object& picture,
                const std::optional<std::string>& channels) {
                QImage map;
                if (isPath(picture)) {
                    const QString path = pathOf(picture);
                    py::gil_scoped_release release;
                    map = mixer.analyzeFile(path);
                } else {
                    const ZTNumpyPicture pixels(
                        picture, ZTNumpyPicture::Picture, channels.value_or(std::string()));
                    py::gil_scoped_release release;
                    map = mixer.analyze(pixels.image(), pixels.image().size());
                }
                return ZTNumpyPicture::mapToArray(map);
            },
            "picture"_a, "channels"_a = py::none());
}

void defineClusterer(py::module_& m)
{
    py::class_<ZTSalienzClusterer>(
        m, "Clusterer", R"(Scores the cells of a grid over a salience map.

A cell holding exactly its share of the map's total salience scores 128; one whose bright
pixels stand out strongly saturates at 255.)")
        .def(py::init([](int columns, int rows) {
            if (columns < 1 || rows < 1) {
                throw py::value_error("a grid needs at least one column and one row");
            }
            auto clusterer = std::make_unique<ZTSalienzClusterer>();
            clusterer->setCountCubesV(columns);
            clusterer->setCountCubesH(rows);
            return clusterer;
        }),
            "columns"_a = 10, "rows"_a = 10)
        .def_property_readonly("columns", &ZTSalienzClusterer::countCubesV, "Cells across.")
        .def_property_readonly("rows", &ZTSalienzClusterer::countCubesH, "Cells down.")
        .def(
            "cluster",
            [](const ZTSalienzClusterer& clusterer, const py::object& map) {
                const ZTNumpyPicture salience(map, ZTNumpyPicture::Map);
                QImage cells;
                {
                    py::gil_scoped_release release;
                    cells = clusterer.cluster(salience.image());
                }
                return ZTNumpyPicture::mapToArray(cells);
            },
            "map"_a,
            R"(The map of the same shape in which every pixel holds its cell's score, 0 ... 255.

Cells are w = W // columns pixels wide and h = H // rows high; when W or H is no multiple of
that, narrower cells cover the rest. cluster(map)[:rows * h:h, :columns * w:w] holds one score
per whole cell.)")
        .def(
            "total_salience",
            [](const ZTSalienzClusterer& clusterer, const py::object& map) {
                const ZTNumpyPicture salience(map, ZTNumpyPicture::Map);
                return clusterer.totalSalience(salience.image());
            },
            "map"_a, "The sum of the map's values, saturated at 2**31 - 1.");
}

template<typename Maximizer>
void defineMaximizer(py::module_& m, const char* name, const char* doc)
{
    py::class_<Maximizer, ZTSalienzMaximizerAbstract>(m, name, doc)
        .def(py::init([](const std::string& pixelWeight) {
            return std::make_unique<Maximizer>(pixelWeightOf(pixelWeight));
        }),
            "pixel_weight"_a = "linear");
}

void defineMaximizers(py::module_& m)
{
    py::class_<ZTSalienzMaximizerAbstract>(m, "Maximizer",
        "Finds the window of a given length along one axis of a salience map that holds the most "
        "salience.")
        .def(
            "sums",
            [](const ZTSalienzMaximizerAbstract& maximizer, const py::object& map) {
                const ZTNumpyPicture salience(map, ZTNumpyPicture::Map);
                QList<qint64> sums;
                {
                    py::gil_scoped_release release;
                    sums = maximizer.sums(salience.image());
                }
                return toArray(sums);
            },
            "map"_a, "The weighted salience of every position along the axis.")
        .def(
            "running_sums",
            [](const ZTSalienzMaximizerAbstract& maximizer, const std::vector<qint64>& values) {
                throwIfRunningSumOverflows(values);
                return toArray(maximizer.conglumerate(QList<qint64>(values.begin(), values.end())));
            },
            "values"_a,
            "Inclusive running sums: entry k is values[0] + ... + values[k]. Raises "
            "OverflowError when a sum does not fit in 64 bits.")
        .def(
            "best_range",
            [](const ZTSalienzMaximizerAbstract& maximizer, const std::vector<qint64>& runningSums,
                int length) {
                return maximizer.bestRange(
                    QList<qint64>(runningSums.begin(), runningSums.end()), length);
            },
            "running_sums"_a, "length"_a,
            R"(The start of the window of length entries with the largest positive sum.

Windows flush with either edge are never chosen, and of equal sums the earliest wins. Returns 0
when there are fewer entries than length; -1 when there are length or length + 1 entries, when
no window has a positive sum, and for a length below 1.)")
        .def(
            "best_start",
            [](const ZTSalienzMaximizerAbstract& maximizer, const py::object& map, int length) {
                const ZTNumpyPicture salience(map, ZTNumpyPicture::Map);
                py::gil_scoped_release release;
                return maximizer.startOfBestRange(salience.image(), length);
            },
            "map"_a, "length"_a, "best_range(running_sums(sums(map)), length).");

    defineMaximizer<ZTSalienzMaximizerHorizontal>(m, "HorizontalMaximizer",
        "Sums the map's columns: best_start() gives the first column of the most salient window "
        "of a given width. pixel_weight 'threshold' counts only values above 153.");
    defineMaximizer<ZTSalienzMaximizerVertical>(m, "VerticalMaximizer",
        "Sums the map's rows: best_start() gives the first row of the most salient window of a "
        "given height. pixel_weight 'threshold' counts only values above 153.");
}

} // namespace

PYBIND11_MODULE(_ztroi, m)
{
    m.doc() = "The compiled part of the ztroi package; use the package itself.";

    // Qt lists its image plugins on first use and caches the list; doing that here, once, keeps
    // threads that analyse at the same time from building the cache concurrently. Asking for
    // PNG, which Qt reads itself, loads no plugin.
    QBuffer nothing;
    QImageReader(&nothing, "png").canRead();

    py::register_exception<ZTPictureError>(m, "PictureError", PyExc_OSError);
    // Registered after the class above, so tried first: the kind picks a subclass of it.
    py::register_exception_translator([](std::exception_ptr thrown) {
        try {
            if (thrown) {
                std::rethrow_exception(thrown);
            }
        } catch (const ZTPictureError& error) {
            raisePictureError(error);
        }
    });

    defineMixer(m);
    defineClusterer(m);
    defineMaximizers(m);

    m.attr("__version__") = ztRegionOfInterestVersion();
    m.attr("_max_file_bytes") = ZTImageLoader::maxFileBytes;
    m.def(
        "_analyze_file",
        [](const std::string& path, const Keywords& keywords) {
            const ZTAnalysisSettings settings = settingsFromKeywords(keywords);
            PictureSource source;
            source.path = source.name = fromBytes(path);
            QJsonObject record;
            {
                py::gil_scoped_release release;
                record = analyzePicture(source, settings);
            }
            return toPython(QJsonValue(record));
        },
        "path"_a, "keywords"_a);
    m.def(
        "_analyze",
        [](const std::string& kind, const py::object& picture, const std::string& name,
            const std::string& channels, const Keywords& keywords, bool withPixels) {
            const ZTAnalysisSettings settings = settingsFromKeywords(keywords);
            std::unique_ptr<py::buffer_info> buffer;
            std::unique_ptr<ZTNumpyPicture> pixels;
            const PictureSource source
                = sourceOf(kind, picture, fromBytes(name), channels, &buffer, &pixels);
            QJsonObject record;
            QList<QImage> images;
            QList<ZTCrop> crops;
            {
                py::gil_scoped_release release;
                record = analyzePicture(source, settings, withPixels ? &images : nullptr, &crops);
            }
            const bool bgr = channels.rfind("BGR", 0) == 0;
            py::list extras;
            for (int i = 0; i < crops.size(); ++i) {
                const QImage image = images.value(i);
                py::list warnings;
                for (const QString& warning : crops.at(i).warnings) {
                    warnings.append(toPython(warning));
                }
                extras.append(py::make_tuple(crops.at(i).scale, warnings,
                    image.isNull() ? py::object(py::none())
                                   : py::object(ZTNumpyPicture::cropToArray(image, bgr))));
            }
            return py::make_tuple(toPython(QJsonValue(record)), extras);
        },
        "kind"_a, "picture"_a, "name"_a, "channels"_a, "keywords"_a, "pixels"_a);
    m.def(
        "_read_image",
        [](const std::string& path, const Keywords& keywords) {
            const ZTAnalysisSettings settings = settingsFromKeywords(keywords);
            QImage picture;
            {
                py::gil_scoped_release release;
                QSize inputSize;
                picture = ZTPythonMixer::readPicture(settings, fromBytes(path), &inputSize);
            }
            return ZTNumpyPicture::pictureToArray(picture);
        },
        "path"_a, "keywords"_a);
}
