#ifndef ZTBATCHRUNNER_H
#define ZTBATCHRUNNER_H

#include "ZTToolSettings.h"
#include "analysis/ZTPictureAnalyzer.h"

#include <QStringList>

#include <atomic>
#include <functional>

class ZTOutputFolder;

/**
 * Analyses a list of pictures with settings.jobs worker threads, each with its own
 * ZTPictureAnalyzer (and so its own mixer), and writes each picture's files after its analysis.
 * Reports are handed over on the calling thread in input order, whatever order the workers finish
 * in.
 */
class ZTBatchRunner
{
public:
    /** Receives the report of picture @p index; called in input order. */
    using Deliver = std::function<void(int index, const ZTPictureReport& report)>;
    /** Told how many pictures are finished, whenever that changes. */
    using Progress = std::function<void(int finished)>;

    /**
     * Writes into @p folder, which must outlive the runner, and be open when @p settings write
     * files. @p faceFinder, if given,
     * finds the faces for every worker's analyzer (see ZTPictureAnalyzer).
     */
    ZTBatchRunner(
        const ZTToolSettings& settings, const ZTOutputFolder& folder, ZTFaceFinder faceFinder = {});

    /**
     * Output names for @p inputs: each file name without its last suffix, made unique in input
     * order by appending -2, -3, ... ("picture" for a name that would be empty).
     */
    static QStringList outputNames(const QStringList& inputs);

    /**
     * The most memory that the output name of @p input takes among the names of a run, for the
     * run to reserve: a name is remembered until the run ends, so that no later one repeats it.
     * @p outputStem, when not empty, is the name the outputs start from instead of the file's.
     */
    static qint64 nameBytes(const QString& input, const QString& outputStem = QString());

    /**
     * Gives the next input in @p input, and in @p outputStem the name its outputs start from
     * ("a/b" writes into the subfolder a; empty: outputBase() of the input); false when there is
     * none left.
     */
    using NextInput = std::function<bool(QString* input, QString* outputStem)>;

    /**
     * Analyses the inputs that @p next gives, and measures each one's time (its report's
     * seconds), about @p count of them (which only spares starting
     * more workers than there are pictures); returns the number of pictures that failed. Inputs
     * are taken as the workers need them, never far ahead of the reports delivered. After
     * stop(), only the pictures already started are finished and delivered: always the first
     * ones in input order. @p nameBytes, the sum of nameBytes() over the inputs, is set aside
     * from the memory budget before the first picture: the pictures share the rest.
     */
    int run(const NextInput& next, qint64 count, qint64 nameBytes, const Deliver& deliver,
        const Progress& progress = {});
    /** Analyses @p inputs, as run() above. */
    int run(const QStringList& inputs, const Deliver& deliver, const Progress& progress = {});

    /**
     * Asks run() to start no more pictures. Safe from any thread and from a signal handler (it
     * only sets a lock-free flag).
     */
    void stop() noexcept { m_stopRequested.store(true); }

private:
    ZTToolSettings m_settings;
    const ZTOutputFolder& m_folder;
    std::atomic<bool> m_stopRequested {false};
    ZTFaceFinder m_faceFinder;
};

#endif // ZTBATCHRUNNER_H
