// ztroi: salience maps, crops and focal points for photographs, from the command line.

#include "ZTBatchRunner.h"
#include "ZTInputSource.h"
#include "ZTOptionParser.h"
#include "ZTProgressBar.h"
#include "ZTRunTotals.h"
#include "faces/ZTFaceDetector.h"
#include "output/ZTOutputFolder.h"
#include "output/ZTStreamWriter.h"
#include "report/ZTReportFormatter.h"
#include "report/ZTReviewPage.h"
#include "text/ZTFileName.h"

#include <ZTRegionOfInterestVersion.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QThread>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

enum ExitStatus { Success = 0, SomeFailed = 1, UsageError = 2, SignalBase = 128 };

// ztroi's own messages: standard error, or the copy of it that reserveStandardError() makes.
FILE* g_messages = stderr;

void printError(const QString& text)
{
    std::fprintf(g_messages, "ztroi: %s\n", qPrintable(text));
}

int usageError(const QString& text)
{
    printError(text);
    std::fputs("Try 'ztroi --help' for more information.\n", g_messages);
    return UsageError;
}

// Some decoders write to standard error themselves (libpng prints its errors there), which would
// add lines to the one that ztroi gives each failed picture. ztroi writes its own messages to a
// copy of standard error and, unless --verbose, points descriptor 2 at /dev/null for the rest.
void reserveStandardError(bool verbose)
{
    const int copy = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    FILE* const stream = copy >= 0 ? ::fdopen(copy, "w") : nullptr;
    if (!stream) {
        if (copy >= 0) {
            ::close(copy);
        }
        return; // all messages stay on standard error
    }
    std::setvbuf(stream, nullptr, _IONBF, 0); // unbuffered, as standard error is
    g_messages = stream;
    if (!verbose) {
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null >= 0) {
            ::dup2(null, STDERR_FILENO);
            ::close(null);
        }
    }
}

// Every write to standard output goes through here: a failure is said once, on standard error.
bool writeOutput(const QByteArray& text)
{
    const int error = ZTStreamWriter::writeRecord(STDOUT_FILENO, text);
    if (error != 0) {
        printError(QStringLiteral("cannot write to standard output (%1)")
                       .arg(ZTStreamWriter::errorText(error)));
    }
    return error == 0;
}

// A standard stream that was closed would be reused by the next file opened, and reports would
// land in it. Each closed one gets /dev/null instead; standard output read-only, so that writing
// to it still fails and is reported.
void occupyClosedStandardStreams()
{
    for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (::fcntl(fd, F_GETFD) == -1) {
            ::open("/dev/null", fd == STDERR_FILENO ? O_WRONLY : O_RDONLY);
        }
    }
}

// A broken pipe is a write error that ztroi reports; a file-size limit is a write error for the
// picture whose file reaches it. Neither may end the process.
void ignoreWriteSignals()
{
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
}

// SIGINT and SIGTERM stop the batch: no new pictures, those in progress finish and are
// reported. A second one ends ztroi at once.
volatile std::sig_atomic_t g_stopSignal = 0;
std::atomic<ZTBatchRunner*> g_runner {nullptr};

void stopOnSignal(int signal)
{
    if (g_stopSignal != 0) {
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return;
    }
    g_stopSignal = signal;
    if (ZTBatchRunner* const runner = g_runner.load()) {
        runner->stop();
    }
}

void installStopHandlers(ZTBatchRunner* runner)
{
    static_assert(std::atomic<ZTBatchRunner*>::is_always_lock_free);
    g_runner.store(runner);
    struct sigaction action = {};
    action.sa_handler = stopOnSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM}) {
        sigaction(signal, &action, nullptr);
    }
}

void removeStopHandlers()
{
    for (const int signal : {SIGINT, SIGTERM}) {
        std::signal(signal, SIG_DFL);
    }
    g_runner.store(nullptr);
}

// One line on standard error about picture @p input, its name with the bytes it has, control
// bytes escaped.
void printPictureLine(const QString& input, const QString& text)
{
    const QByteArray line = "ztroi: " + ZTFileName::toBytes(ZTFileName::printable(input)) + ": "
        + text.simplified().toLocal8Bit() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), g_messages);
}

// Says what the search of folders left out, one line each; true when it left out anything.
bool printProblems(const ZTInputSource& inputs)
{
    for (const QString& problem : inputs.problems()) {
        printError(ZTFileName::printable(problem));
    }
    const int more = inputs.problemCount() - int(inputs.problems().size());
    if (more > 0) {
        printError(QStringLiteral("... and %1 more folders left out").arg(more));
    }
    return inputs.problemCount() > 0;
}

// The folders among the command line's pictures when they are not searched: each fails as a
// picture, and its line says what to add.
QSet<QString> unsearchedFolders(const ZTToolSettings& settings)
{
    QSet<QString> folders;
    for (const QString& input : settings.recursive ? QStringList() : settings.inputs) {
        struct stat status;
        if (::stat(ZTFileName::toBytes(input).constData(), &status) == 0
            && S_ISDIR(status.st_mode)) {
            folders.insert(input);
        }
    }
    return folders;
}

// The review page replaces only a regular file that is not an input of the run: never a link
// (whose target could be anywhere), a folder, a device or a picture being analysed.
bool reviewPageMayReplace(const ZTToolSettings& settings, ZTInputSource& inputs, QString* error)
{
    struct stat page;
    if (::lstat(ZTFileName::toBytes(settings.reviewPage).constData(), &page) != 0) {
        return true; // nothing there yet, or the page will say why it cannot be written
    }
    if (!S_ISREG(page.st_mode)) {
        *error = QStringLiteral("--report %1: not a regular file; the review page replaces only "
                                "a file")
                     .arg(settings.reviewPage);
        return false;
    }
    inputs.rewind();
    for (QString input; inputs.next(&input);) {
        struct stat status;
        if (::stat(ZTFileName::toBytes(input).constData(), &status) == 0
            && status.st_dev == page.st_dev && status.st_ino == page.st_ino) {
            *error = QStringLiteral("--report %1: is also an input of this run")
                         .arg(settings.reviewPage);
            return false;
        }
    }
    return true;
}

// Analyses the pictures and prints their reports, in input order.
int runBatch(const ZTToolSettings& settings, const ZTOutputFolder& folder, ZTInputSource& inputs,
    qint64 nameBytes)
{
    const int total = int(inputs.count());
    const bool showProgress = !settings.quiet && total > 1 && isatty(fileno(g_messages));
    ZTProgressBar bar(g_messages, total, showProgress);
    const bool summaries = !settings.json && !settings.quiet;
    ZTRunTotals totals;
    const QSet<QString> unsearched = unsearchedFolders(settings);
    QElapsedTimer runTime;
    runTime.start();
    std::optional<ZTReviewPage> page;
    if (!settings.reviewPage.isEmpty()) {
        page.emplace(settings.reviewPage, total);
        page->setDeclaredAreas(settings.areas);
        QString error;
        if (!page->open(&error)) {
            printError(error);
            return SomeFailed;
        }
    }
    ZTBatchRunner runner(settings, folder);
    bool outputBroken = false;
    int delivered = 0;
    installStopHandlers(&runner);
    inputs.rewind();
    const ZTBatchRunner::NextInput next
        = [&](QString* input, QString* outputStem) { return inputs.next(input, outputStem); };
    const int failures = runner.run(
        next, total, nameBytes,
        [&](int, const ZTPictureReport& report) {
            ++delivered;
            bar.clear();
            if (settings.verbose) {
                for (const QString& message : report.decoderMessages) {
                    printPictureLine(report.input, QStringLiteral("decoder: ") + message);
                }
            }
            if (!report.ok()) {
                const QString hint = unsearched.contains(report.input)
                    ? QStringLiteral("; add --recursive (-r) to analyse the pictures in it")
                    : QString();
                printPictureLine(report.input, report.error + hint);
            }
            if (!settings.quiet) {
                for (const QString& note : ZTReportFormatter::renameNotes(report)) {
                    printPictureLine(report.input, ZTFileName::printable(note));
                }
            }
            if (page) {
                page->add(report);
            }
            totals.add(report);
            QByteArray text;
            if (settings.json) {
                text = ZTReportFormatter::toJsonLine(report);
            } else if (summaries && report.ok()) {
                ZTPictureReport shown = report;
                if (settings.bundledPicture) {
                    shown.input = QFileInfo(report.input).fileName()
                        + QStringLiteral(" (the bundled photograph)");
                }
                // One line a picture; --verbose gives the detailed block.
                text = settings.verbose
                    ? ZTReportFormatter::toText(shown, settings.writeOverlay).toLocal8Bit()
                    : (ZTReportFormatter::toLine(shown) + QLatin1Char('\n')).toLocal8Bit();
            }
            // Reports that cannot be printed are not worth analysing more pictures for.
            if (!outputBroken && !text.isEmpty() && !writeOutput(text)) {
                outputBroken = true;
                runner.stop();
            }
            bar.redraw();
        },
        [&](int finished) { bar.update(finished); });
    removeStopHandlers();
    bar.clear();
    if (summaries && !outputBroken) {
        const double seconds = double(runTime.nsecsElapsed()) / 1e9;
        outputBroken = !writeOutput((totals.text(seconds) + QLatin1Char('\n')).toLocal8Bit());
    }
    if (!inputs.error().isEmpty()) {
        printError(inputs.error());
        outputBroken = true;
    }
    QString pageError;
    if (page && g_stopSignal != 0) {
        page->setStoppedBy(g_stopSignal);
    }
    if (page && !page->commit(&pageError)) {
        printError(pageError);
        outputBroken = true;
    }
    if (g_stopSignal != 0) {
        printError(QStringLiteral("stopped by signal %1 (%2); %3 of %4 pictures not analysed")
                       .arg(int(g_stopSignal))
                       .arg(QString::fromLocal8Bit(strsignal(g_stopSignal)))
                       .arg(total - delivered)
                       .arg(total));
        return SignalBase + g_stopSignal;
    }
    return failures > 0 || outputBroken ? SomeFailed : Success;
}

} // namespace

int main(int argc, char* argv[])
{
    occupyClosedStandardStreams();
    ignoreWriteSignals();
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
        return writeOutput(parser.helpText().toLocal8Bit()) ? Success : SomeFailed;
    case ZTOptionParser::ShowVersion:
        // The library's version is the loaded library's, which may differ from the headers'.
        return writeOutput(QByteArray("ztroi " ZTROI_VERSION "\nlibZTRegionOfInterest ")
                   + ztRegionOfInterestVersion() + '\n')
            ? Success
            : SomeFailed;
    case ZTOptionParser::UsageError:
        return usageError(parser.errorText());
    case ZTOptionParser::Run:
        break;
    }
    reserveStandardError(parser.settings().verbose);
    for (const QString& note : parser.notes()) {
        printError(note);
    }

    ZTToolSettings settings = parser.settings();
    // The lists are read once here, into a spool that the later passes read: nothing of them
    // stays in memory but the names of the outputs, which are counted against the budget.
    ZTInputSource inputs(
        settings.inputs, settings.inputLists, settings.recursive, settings.formats);
    qint64 nameBytes = 0;
    const auto countName = [&](const QString& input, const QString& outputStem) {
        nameBytes += ZTBatchRunner::nameBytes(input, outputStem);
        return nameBytes <= settings.memoryBudget;
    };
    QString error;
    if (!inputs.prepare(countName, &error)) {
        if (nameBytes > settings.memoryBudget) {
            printError(QStringLiteral("the output names of %1 pictures need more than the "
                                      "memory budget (%2 MB); raise --memory or split the list")
                           .arg(inputs.count())
                           .arg(settings.memoryBudget >> 20));
            return SomeFailed;
        }
        printProblems(inputs);
        return usageError(error);
    }
    // Folders searched: what was left out is said before the batch, and fails the run.
    const bool searchIncomplete = printProblems(inputs);
    if (!settings.reviewPage.isEmpty() && !reviewPageMayReplace(settings, inputs, &error)) {
        return usageError(error);
    }
    // An empty list still gets the review page it asked for, with no entries.
    if (inputs.count() == 0 && settings.reviewPage.isEmpty()) {
        return searchIncomplete ? SomeFailed : Success;
    }
    if (settings.faces) {
        // Every worker loads its own detector; a first load says up front when it cannot, or
        // when the cascades stand in for the network.
        ZTFaceDetector detector;
        if (!detector.load()) {
            printError(QStringLiteral("--faces: %1").arg(detector.errorString()));
            return SomeFailed;
        }
        if (!detector.fallbackNote().isEmpty()) {
            printError(QStringLiteral("--faces: %1; finding faces with the Haar cascades")
                           .arg(detector.fallbackNote()));
        }
    } else if (!settings.noFaces) {
        // Faces are found by default where the network and its model are installed.
        ZTFaceDetector detector;
        settings.faces = detector.load(ZTFaceDetector::Choice::BlazeFaceOnly);
    }
    // A run that writes no files (--no-map without --maps, --overlay or --write-crops) neither
    // creates nor needs the output folder: it works in a folder that cannot be written.
    ZTOutputFolder folder;
    if (settings.writesFiles()) {
        if (!folder.open(settings.outputDir, &error)) {
            printError(error);
            return SomeFailed;
        }
        // Every input is known before the first output is written, so that none replaces one.
        inputs.rewind();
        for (QString input; inputs.next(&input);) {
            folder.noteInput(input);
        }
        if (!inputs.error().isEmpty()) {
            printError(inputs.error());
            return SomeFailed;
        }
    }
    const int status = runBatch(settings, folder, inputs, nameBytes);
    return status == Success && searchIncomplete ? SomeFailed : status;
}
