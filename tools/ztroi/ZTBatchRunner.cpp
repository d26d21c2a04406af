#include "ZTBatchRunner.h"

#include "analysis/ZTOutputWriter.h"
#include "input/ZTMemoryBudget.h"
#include "text/ZTFileName.h"
#include "text/ZTUniqueNames.h"

#include <QBuffer>
#include <QImageReader>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
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

QString ZTBatchRunner::outputBase(const QString& input)
{
    return ZTFileName::outputBase(input);
}

QStringList ZTBatchRunner::outputNames(const QStringList& inputs)
{
    QStringList names;
    names.reserve(inputs.size());
    ZTUniqueNames unique;
    for (const QString& input : inputs) {
        names.append(unique.take(outputBase(input)));
    }
    return names;
}

int ZTBatchRunner::run(const QStringList& inputs, const Deliver& deliver, const Progress& progress)
{
    const int count = inputs.size();
    // Named here rather than with outputNames(), so that a stop cuts a long list short.
    QStringList names;
    names.reserve(count);
    ZTUniqueNames unique;
    for (int index = 0; index < count && !m_stopRequested; ++index) {
        names.append(unique.take(outputBase(inputs.at(index))));
    }
    if (m_stopRequested) {
        return 0;
    }
    std::vector<std::optional<ZTPictureReport>> reports(static_cast<size_t>(count));
    std::mutex mutex;
    std::condition_variable finishedOne;
    int finished = 0;
    int working = 0; // workers that may still deliver a report
    std::atomic<int> next {0};

    // Qt lists its image plugins on first use and caches the list; doing that here, before the
    // workers start, keeps them from building the cache concurrently. Asking for PNG, which Qt
    // reads itself, loads no plugin: each is loaded when a picture first needs it.
    QBuffer nothing;
    QImageReader(&nothing, "png").canRead();

    // The pictures in progress share one memory budget (see ZTImageLoader::setMemoryBudget).
    ZTMemoryBudget budget(m_settings.memoryBudget);

    // Workers take the next picture in input order, so the pictures started are always the
    // first ones; each worker owns its analyzer and mixer.
    const auto work = [&] {
        ZTPictureAnalyzer analyzer(m_settings, m_faceFinder);
        analyzer.setMemoryBudget(&budget);
        const ZTOutputWriter writer(m_settings, m_folder);
        // The flag is read before an index is taken: every index taken is analysed.
        for (int index = 0; !m_stopRequested && (index = next++) < count;) {
            ZTPictureAnalysis analysis = analyzer.analyze(inputs.at(index));
            writer.write(analysis, names.at(index));
            const std::lock_guard<std::mutex> lock(mutex);
            reports[size_t(index)] = std::move(analysis.report);
            ++finished;
            finishedOne.notify_one();
        }
        const std::lock_guard<std::mutex> lock(mutex);
        --working;
        finishedOne.notify_one();
    };
    const int workers = std::clamp(m_settings.jobs, 1, std::max(1, count));
    working = workers;
    std::vector<std::thread> threads;
    threads.reserve(size_t(workers));
    for (int i = 0; i < workers; ++i) {
        threads.emplace_back(work);
    }

    int failures = 0;
    int reportedProgress = -1;
    for (int index = 0; index < count; ++index) {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            if (progress && finished != reportedProgress) {
                reportedProgress = finished;
                lock.unlock();
                progress(reportedProgress);
                lock.lock();
                continue;
            }
            if (reports[size_t(index)] || working == 0) {
                break;
            }
            finishedOne.wait(lock);
        }
        if (!reports[size_t(index)]) {
            break; // stopped before this picture
        }
        const ZTPictureReport report = std::move(*reports[size_t(index)]);
        reports[size_t(index)].reset();
        lock.unlock();
        failures += report.ok() ? 0 : 1;
        deliver(index, report);
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    return failures;
}
