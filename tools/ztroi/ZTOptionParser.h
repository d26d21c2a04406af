#ifndef ZTOPTIONPARSER_H
#define ZTOPTIONPARSER_H

#include "ZTToolSettings.h"
#include "analysis/ZTOptionTable.h"

#include <QString>
#include <QStringList>

class QCommandLineParser;

/** An option of ztroi: one of the analysis (ZTOptionTable) or one of the program's own. */
using ZTToolOptionRow = ZTOptionRowOf<ZTToolSettings>;

/**
 * Turns ztroi's command line into ZTToolSettings. Every malformed value is a usage error with one
 * line of explanation; nothing is clamped silently.
 */
class ZTOptionParser
{
public:
    enum Outcome {
        Run,         ///< settings() holds the run
        ShowHelp,    ///< --help: print helpText()
        ShowVersion, ///< --version
        UsageError   ///< errorText() says what is wrong
    };

    /**
     * Every option of ztroi in the order of --help: the analysis' options with the program's
     * own among them (help, version, json, report, list, list0, recursive, verbose, jobs,
     * quiet).
     */
    static const QList<ZTToolOptionRow>& rows();

    /** The crops that every picture gets when neither --crop nor --no-crops is given. */
    static QStringList defaultCrops();
    /** The resource path of the bundled photograph. */
    static QString bundledPicturePath();

    /**
     * Parses @p arguments (the first is the program's name). Without pictures and without
     * --list, the run analyses the bundled photograph and draws its overlay. --jobs defaults to
     * @p defaultJobs.
     */
    Outcome parse(const QStringList& arguments, int defaultJobs = 1);

    ZTToolSettings settings() const { return m_settings; }
    QString errorText() const { return m_error; }
    /** Remarks on a command line that runs but may not do what was meant, one line each. */
    QStringList notes() const { return m_notes; }
    QString helpText() const;

    /** Parses "16:9" (an aspect) or "1920x1080" (an output size); false if malformed. */
    static bool parseCrop(const QString& text, ZTCropRequest* request);
    /** Parses "WxH" with both parts in @p min ... @p max; false otherwise. */
    static bool parseSize(const QString& text, int min, int max, QSize* size);

private:
    bool fail(const QString& error);
    bool apply(const QCommandLineParser& parser);
    bool applyBundledPicture();
    void noteIgnoredWeight();

    ZTToolSettings m_settings;
    QString m_error;
    QStringList m_notes;
};

#endif // ZTOPTIONPARSER_H
