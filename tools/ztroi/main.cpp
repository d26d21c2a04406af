// ztroi: salience maps, crops and focal points for photographs, from the command line.

#include "ZTBatchRunner.h"
#include "ZTFileName.h"
#include "ZTFaceDetector.h"
#include "ZTOptionParser.h"
#include "ZTProgressBar.h"
#include "ZTReportFormatter.h"

#include <ZTRegionOfInterestVersion.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

enum ExitStatus { Success = 0, SomeFailed = 1, UsageError = 2 };

void printError(const QString& text)
{
    std::fprintf(stderr, "ztroi: %s\n", qPrintable(text));
}

int usageError(const QString& text)
{
    printError(text);
    std::fputs("Try 'ztroi --help' for more information.\n", stderr);
    return UsageError;
}

// Reads every --list and --list0 in the order given; false, with @p error set, on the first
// that cannot be read or holds an entry longer than a path.
bool readInputLists(ZTToolSettings& settings, QString* error)
{
    for (const ZTInputList& list : settings.inputLists) {
        const char* const option = list.separator == '\n' ? "--list" : "--list0";
        QFile file;
        bool opened = false;
        if (list.path == QLatin1String("-")) {
            opened = file.open(stdin, QIODevice::ReadOnly);
        } else {
            const int fd = ::open(ZTFileName::toBytes(list.path).constData(), O_RDONLY | O_CLOEXEC);
            opened = fd >= 0 && file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
        }
        if (!opened) {
            *error = QStringLiteral("%1 %2: cannot read the list")
                         .arg(QLatin1String(option), list.path);
            return false;
        }
        if (!ZTOptionParser::readList(&file, list.separator, &settings.inputs)) {
            *error = QStringLiteral("%1 %2: an entry is longer than a path can be (%3 bytes)")
                         .arg(QLatin1String(option), list.path)
                         .arg(PATH_MAX);
            return false;
        }
    }
    return true;
}

// One line on standard error about picture @p input, its name with the bytes it has.
void printPictureLine(const QString& input, const QString& text)
{
    const QByteArray line
        = "ztroi: " + ZTFileName::toBytes(input) + ": " + text.simplified().toLocal8Bit() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ztroi"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ZTROI_VERSION));

    // The arguments as their bytes are, not as the locale would decode them: any file name works.
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments.append(ZTFileName::fromBytes(argv[i]));
    }
    ZTOptionParser parser;
    switch (parser.parse(arguments, QThread::idealThreadCount())) {
    case ZTOptionParser::ShowHelp:
        std::fputs(qPrintable(parser.helpText()), stdout);
        return Success;
    case ZTOptionParser::ShowVersion:
        // The library's version is the loaded library's, which may differ from the headers'.
        std::printf(
            "ztroi %s\nlibZTRegionOfInterest %s\n", ZTROI_VERSION, ztRegionOfInterestVersion());
        return Success;
    case ZTOptionParser::UsageError:
        return usageError(parser.errorText());
    case ZTOptionParser::Run:
        break;
    }

    ZTToolSettings settings = parser.settings();
    QString listError;
    if (!readInputLists(settings, &listError)) {
        return usageError(listError);
    }
    if (settings.inputs.isEmpty()) {
        return Success;
    }
    if (settings.faces) {
        // Every worker loads its own cascades; a first load says up front when it cannot.
        ZTFaceDetector detector;
        if (!detector.load()) {
            printError(QStringLiteral("--faces: %1").arg(detector.errorString()));
            return SomeFailed;
        }
    }
    if (!QDir().mkpath(settings.outputDir)) {
        printError(QStringLiteral("%1: cannot create the output folder").arg(settings.outputDir));
        return SomeFailed;
    }

    const bool showProgress
        = !settings.quiet && settings.inputs.size() > 1 && isatty(fileno(stderr));
    ZTProgressBar bar(stderr, settings.inputs.size(), showProgress);
    const bool summaries = !settings.json && !settings.quiet;
    ZTBatchRunner runner(settings);
    const int failures = runner.run(
        settings.inputs,
        [&](int, const ZTPictureReport& report) {
            bar.clear();
            if (settings.verbose) {
                for (const QString& message : report.decoderMessages) {
                    printPictureLine(report.input, QStringLiteral("decoder: ") + message);
                }
            }
            if (!report.ok()) {
                printPictureLine(report.input, report.error);
            }
            if (settings.json) {
                const QByteArray line = ZTReportFormatter::toJsonLine(report);
                std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
            } else if (summaries && report.ok()) {
                ZTPictureReport shown = report;
                if (settings.bundledPicture) {
                    shown.input = QFileInfo(report.input).fileName()
                        + QStringLiteral(" (the bundled photograph)");
                }
                std::fputs(
                    qPrintable(ZTReportFormatter::toText(shown, settings.writeOverlay)), stdout);
            }
            std::fflush(stdout);
        },
        [&](int finished) { bar.update(finished); });
    bar.clear();
    return failures > 0 ? SomeFailed : Success;
}
