// ztroi: salience maps, crops and focal points for photographs, from the command line.

#include "ZTBatchRunner.h"
#include "ZTOptionParser.h"
#include "ZTProgressBar.h"
#include "ZTReportFormatter.h"

#include <ZTRegionOfInterestVersion.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <cstdio>
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

bool readInputList(ZTToolSettings& settings)
{
    QFile file;
    bool opened = false;
    if (settings.listFile == QLatin1String("-")) {
        opened = file.open(stdin, QIODevice::ReadOnly);
    } else {
        file.setFileName(settings.listFile);
        opened = file.open(QIODevice::ReadOnly);
    }
    if (!opened) {
        return false;
    }
    settings.inputs += ZTOptionParser::readList(&file);
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ztroi"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ZTROI_VERSION));

    ZTOptionParser parser;
    switch (parser.parse(QCoreApplication::arguments(), QThread::idealThreadCount())) {
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
    if (!settings.listFile.isEmpty() && !readInputList(settings)) {
        return usageError(QStringLiteral("--list %1: cannot read the list").arg(settings.listFile));
    }
    if (settings.inputs.isEmpty()) {
        return Success;
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
            if (!report.ok()) {
                printError(QStringLiteral("%1: %2").arg(report.input, report.error));
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
