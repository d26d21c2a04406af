#include "ZTBatchRunner.h"

#include "analysis/ZTOutputWriter.h"
#include "input/ZTMemoryBudget.h"
#include "text/ZTFileName.h"
#include "text/ZTUniqueNames.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QImageReader>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

ZTBatchRunner::ZTBatchRunner(
    const ZTToolSettings& settings, const ZTOutputFolder& folder, ZTFaceFinder faceFinder)
    : m_settings(settings)
    , m_folder(folder)
    , m_faceFinder(std::move(faceFinder))
{
    static_assert(std::atomic<bool>::is_always_lock_free, "stop() must be async-signal-safe");
}

QStringList ZTBatchRunner::outputNames(const QStringList& inputs)
{
    QStringList names;
    names.reserve(inputs.size());
    ZTUniqueNames unique;
    for (const QString& input : inputs) {
        names.append(unique.take(ZTFileName::outputBase(input)));
    }
    return names;
}

// A name is remembered twice at most (among the names taken and, when its base repeats, as the
// base whose next number is kept), each time as a hash node, a string of up to 11 more characters
// ("-" and a number) and its share of the buckets.
qint64 ZTBatchRunner::nameBytes(const QString& input, const QString& outputStem)
{
    const QString base = outputStem.isEmpty() ? ZTFileName::outputBase(input) : outputStem;
    constexpr qint64 nodeBytes = 32;
    constexpr qint64 stringHeaderBytes = 48; // header, terminator, allocator's rounding
    constexpr qint64 bucketBytes = 16;
    constexpr qint64 numberCharacters = 11;
    const qint64 stringBytes
        = stringHeaderBytes + qint64(sizeof(QChar)) * (base.size() + numberCharacters);
    return 2 * (nodeBytes + stringBytes + bucketBytes);
}

int ZTBatchRunner::run(const QStringList& inputs, const Deliver& deliver, const Progress& progress)
{
    qint64 names = 0;
    for (const QString& input : inputs) {
        names += nameBytes(input);
    }
    int at = 0;
    const auto next = [&](QString* input, QString* outputStem) {
        if (at >= inputs.size()) {
            return false;
        }
        *input = inputs.at(at++);
        outputStem->clear();
        return true;
    };
    return run(next, inputs.size(), names, deliver, progress);
}

int ZTBatchRunner::run(const NextInput& next, qint64 count, qint64 nameBytes,
    const Deliver& deliver, const Progress& progress)
{
    // The pictures in progress share one memory budget (see ZTImageLoader::setMemoryBudget); the
    // names have their part set aside, so that no picture waits for memory that they hold.
    ZTMemoryBudget budget(std::max<qint64>(0, m_settings.memoryBudget - nameBytes));

    std::mutex mutex;
    std::condition_variable reportReady;    // the deliverer waits on it
    std::condition_variable roomAhead;      // workers that are too far ahead wait on it
    std::map<int, ZTPictureReport> reports; // finished, not delivered yet
    ZTUniqueNames unique;
    int taken = 0;     // inputs handed to workers, and so named
    int delivered = 0; // reports handed to deliver
    int finished = 0;
    int working = 0; // workers that may still deliver a report
    bool inputsEnded = false;
    // Workers stay this far ahead of the reports delivered at most: the reports kept waiting
    // behind a slow picture, and so the memory they take, stay few however long the run is.
    const int aheadLimit = std::max(64, 4 * m_settings.jobs);

    // Qt lists its image plugins on first use and caches the list; doing that here, before the
    // workers start, keeps them from building the cache concurrently. Asking for PNG, which Qt
    // reads itself, loads no plugin: each is loaded when a picture first needs it.
    QBuffer nothing;
    QImageReader(&nothing, "png").canRead();

    // Takes the next input and its output name, in input order; false when there is none left
    // or the run was stopped. The flag is read before an input is taken: every one taken is
    // analysed.
    const auto take
        = [&](std::unique_lock<std::mutex>& lock, int* index, QString* input, QString* name) {
              roomAhead.wait(lock,
                  [&] { return m_stopRequested || inputsEnded || taken - delivered < aheadLimit; });
              QString stem;
              if (m_stopRequested || inputsEnded || !next(input, &stem)) {
                  inputsEnded = true;
                  roomAhead.notify_all();
                  return false;
              }
              *index = taken++;
              *name = unique.take(stem.isEmpty() ? ZTFileName::outputBase(*input) : stem);
              return true;
          };
    // Each worker owns its analyzer and mixer.
    const auto work = [&] {
        ZTPictureAnalyzer analyzer(m_settings, m_faceFinder);
        analyzer.setMemoryBudget(&budget);
        const ZTOutputWriter writer(m_settings, m_folder);
        std::unique_lock<std::mutex> lock(mutex);
        int index = 0;
        QString input;
        QString name;
        while (take(lock, &index, &input, &name)) {
            lock.unlock();
            QElapsedTimer timer;
            timer.start();
            ZTPictureAnalysis analysis = analyzer.analyze(input);
            writer.write(analysis, name);
            analysis.report.seconds = double(timer.nsecsElapsed()) / 1e9;
            lock.lock();
            reports.emplace(index, std::move(analysis.report));
            ++finished;
            reportReady.notify_one();
        }
        --working;
        reportReady.notify_one();
    };
    const int workers = int(std::clamp<qint64>(m_settings.jobs, 1, std::max<qint64>(1, count)));
    working = workers;
    std::vector<std::thread> threads;
    threads.reserve(size_t(workers));
    for (int i = 0; i < workers; ++i) {
        threads.emplace_back(work);
    }

    int failures = 0;
    int reportedProgress = -1;
    for (;;) {
        std::unique_lock<std::mutex> lock(mutex);
        auto report = reports.end();
        for (;;) {
            if (progress && finished != reportedProgress) {
                reportedProgress = finished;
                lock.unlock();
                progress(reportedProgress);
                lock.lock();
                continue;
            }
            report = reports.find(delivered);
            if (report != reports.end() || working == 0) {
                break;
            }
            reportReady.wait(lock);
        }
        if (report == reports.end()) {
            break; // every input delivered, or stopped before this one
        }
        const ZTPictureReport current = std::move(report->second);
        reports.erase(report);
        const int index = delivered++;
        roomAhead.notify_one();
        lock.unlock();
        failures += current.ok() ? 0 : 1;
        deliver(index, current);
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    return failures;
}
