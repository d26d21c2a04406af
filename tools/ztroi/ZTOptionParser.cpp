#include "ZTOptionParser.h"

#include "text/ZTFileName.h"

#include <QCommandLineParser>

#include <algorithm>

namespace {

using Row = ZTToolOptionRow;
using S = ZTToolSettings;

constexpr int maxJobs = 256;

Row toolFlag(
    const char* name, const char* shortName, const QString& help,
    std::function<void(S&)> set = [](S&) {})
{
    Row row;
    row.name = QLatin1String(name);
    row.shortName = QLatin1String(shortName);
    row.help = help;
    row.set = [set](S& s, const QString&, QString*) {
        set(s);
        return true;
    };
    return row;
}

Row toolValue(const char* name, const char* syntax, const QString& help, Row::Setter set,
    Row::Kind kind = Row::Value)
{
    Row row;
    row.name = QLatin1String(name);
    row.syntax = QLatin1String(syntax);
    row.help = help;
    row.kind = kind;
    row.set = std::move(set);
    return row;
}

Row inputList(const char* name, const QString& help, char separator)
{
    return toolValue(
        name, "file", help,
        [separator](S& s, const QString& v, QString*) {
            s.inputLists.append({v, separator});
            return true;
        },
        Row::Repeatable);
}

Row jobsRow()
{
    Row row = toolValue("jobs", "N",
        QStringLiteral("Analyse N pictures at once (default: the number of cores)."),
        [](S& s, const QString& v, QString*) {
            qint64 jobs = 0;
            if (!ZTOptionTable::parseWhole(v, 1, maxJobs, &jobs)) {
                return false;
            }
            s.jobs = int(jobs);
            return true;
        });
    row.shortName = QStringLiteral("j");
    row.min = 1;
    row.max = maxJobs;
    row.expected = QStringLiteral("a whole number from 1 to %1").arg(maxJobs);
    return row;
}

Row reviewPageRow()
{
    return toolValue("report", "file",
        QStringLiteral("Write a review page: one HTML file (named *.html or *.htm) showing "
                       "every picture with its crops, focal point, scores and errors."),
        [](S& s, const QString& v, QString* error) {
            s.reviewPage = v;
            if (v.isEmpty()) {
                *error = QStringLiteral("--report needs a file name");
                return false;
            }
            // The page replaces the file it names; a name without the suffix is more likely a
            // picture given by mistake (--report photo.jpg) than a page.
            const QString name = v.toLower();
            if (!name.endsWith(QLatin1String(".html")) && !name.endsWith(QLatin1String(".htm"))) {
                *error = QStringLiteral("--report %1: the review page's name must end in .html "
                                        "or .htm")
                             .arg(v);
                return false;
            }
            return true;
        });
}

// The program's own options, each placed after the analysis option that it follows in --help.
QList<QPair<QString, Row>> toolRows()
{
    const QString first;
    return {
        {first, toolFlag("help", "h", QStringLiteral("Show this help and exit."))},
        {QStringLiteral("help"),
            toolFlag("version", "v",
                QStringLiteral("Show the versions of ztroi and of the library it runs with, and "
                               "exit."))},
        {QStringLiteral("overlay"),
            toolFlag("json", "",
                QStringLiteral("Print one JSON object per picture on standard output (JSON "
                               "Lines), in input order."),
                [](S& s) { s.json = true; })},
        {QStringLiteral("max-side"), reviewPageRow()},
        {QStringLiteral("max-pixels"),
            inputList("list",
                QStringLiteral("Read picture paths from <file>, one per line; - reads standard "
                               "input. Repeatable."),
                '\n')},
        {QStringLiteral("list"),
            inputList("list0",
                QStringLiteral("Read picture paths from <file>, each ended by a NUL byte (find "
                               "-print0). Repeatable."),
                '\0')},
        {QStringLiteral("list0"),
            toolFlag("recursive", "r",
                QStringLiteral("Analyse the pictures in the folders given, and in their "
                               "subfolders; the outputs mirror the folders in the output folder."),
                [](S& s) { s.recursive = true; })},
        {QStringLiteral("memory"),
            toolFlag("verbose", "",
                QStringLiteral("Summarise each picture in detail (focal point, every crop, the "
                               "files written), and show what the picture decoders say (warnings "
                               "about colour profiles, unknown tags, ..., and their own errors)."),
                [](S& s) { s.verbose = true; })},
        {QStringLiteral("verbose"), jobsRow()},
        {QStringLiteral("jobs"),
            toolFlag("quiet", "q",
                QStringLiteral("No progress bar and no summary; errors are still reported."),
                [](S& s) { s.quiet = true; })},
    };
}

QList<Row> allRows()
{
    QList<Row> rows;
    for (const ZTOptionRow& row : ZTOptionTable::rows()) {
        rows.append(row.widened<S>());
    }
    for (const auto& [after, row] : toolRows()) {
        const auto previous = std::find_if(rows.begin(), rows.end(),
            [&after = after](const Row& other) { return other.name == after; });
        rows.insert(previous == rows.end() ? 0 : int(previous - rows.begin()) + 1, row);
    }
    return rows;
}

const Row* findRow(const QString& name)
{
    for (const Row& row : ZTOptionParser::rows()) {
        if (row.name == name || (!row.shortName.isEmpty() && row.shortName == name)) {
            return &row;
        }
    }
    return nullptr;
}

void describe(QCommandLineParser& parser)
{
    parser.setApplicationDescription(QStringLiteral(
        "Finds where the salient parts of photographs are: writes a salience map per picture,\n"
        "suggests crops for given aspect ratios, a focal point and grid scores."));
    // Not addHelpOption(): that adds --help-all, which would list Qt's own options.
    for (const Row& row : ZTOptionParser::rows()) {
        const QStringList names = row.shortName.isEmpty() ? QStringList {row.name}
                                                          : QStringList {row.shortName, row.name};
        parser.addOption(QCommandLineOption(names, row.help, row.syntax));
    }
    parser.addPositionalArgument(QStringLiteral("image"),
        QStringLiteral("Pictures to analyse (JPEG, PNG, GIF, BMP, WebP, TIFF), or with "
                       "--recursive folders of them. Without any, the bundled photograph is "
                       "analysed."),
        QStringLiteral("[image...]"));
}

} // namespace

const QList<ZTToolOptionRow>& ZTOptionParser::rows()
{
    static const QList<Row> table = allRows();
    return table;
}

QStringList ZTOptionParser::defaultCrops()
{
    return ZTOptionTable::defaultCrops();
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
    return ZTOptionTable::parseSize(text, min, max, size);
}

bool ZTOptionParser::parseCrop(const QString& text, ZTCropRequest* request)
{
    return ZTOptionTable::parseCrop(text, request);
}

ZTOptionParser::Outcome ZTOptionParser::parse(const QStringList& arguments, int defaultJobs)
{
    m_settings = ZTToolSettings();
    m_settings.jobs = std::clamp(defaultJobs, 1, maxJobs);
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
    m_settings.inputs = parser.positionalArguments();
    if (!apply(parser) || !applyBundledPicture()) {
        return UsageError;
    }
    noteIgnoredWeight();
    return Run;
}

// Every option is applied through its row, in the order of the command line, so that lists are
// read in the order given; then the options are checked together.
bool ZTOptionParser::apply(const QCommandLineParser& parser)
{
    QSet<QString> given;
    for (const Row& row : rows()) {
        if (parser.isSet(row.name)) {
            given.insert(row.name);
        }
    }
    for (const Row& row : rows()) {
        // An option that would do nothing is refused before its value is looked at.
        if (given.contains(row.name) && !row.needs.isEmpty() && !given.contains(row.needs)) {
            return fail(
                QStringLiteral("--%1 applies to written crops: add --%2").arg(row.name, row.needs));
        }
    }
    QHash<QString, QStringList> values;
    for (const QString& typed : parser.optionNames()) {
        const Row* row = findRow(typed);
        QStringList& left = values[row->name];
        if (left.isEmpty()) {
            left = row->kind == Row::Flag ? QStringList() : parser.values(row->name);
        }
        const QString value = row->kind == Row::Flag ? QString() : left.takeFirst();
        QString error;
        if (!row->apply(m_settings, value, &error)) {
            return fail(error);
        }
    }
    QString error;
    return ZTOptionTable::finish(m_settings, given, &error) || fail(error);
}

// Without pictures and without --list, the run shows what the tool does on the bundled
// photograph: its overlay.
bool ZTOptionParser::applyBundledPicture()
{
    ZTToolSettings& s = m_settings;
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
        "\nOutput, per picture NAME (the file name without its suffix; -2, -3 ... for repeats;\n"
        "with --recursive, the path below the folder given, as subfolders of the output folder):\n"
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
                .arg(ZTOptionTable::methodNames());
    return text;
}
