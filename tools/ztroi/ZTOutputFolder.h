#ifndef ZTOUTPUTFOLDER_H
#define ZTOUTPUTFOLDER_H

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QStringList>

#include <sys/stat.h>

/**
 * The folder that one run of ztroi writes into, opened once: every output is then named relative
 * to it, so no output lands outside it whatever happens to the path meanwhile. It also knows what
 * the rules for existing files need: when the run started and which of its entries are inputs of
 * the run. ZTOutputTransaction writes the files. Safe to share between threads once open.
 */
class ZTOutputFolder
{
public:
    ZTOutputFolder() = default;
    ~ZTOutputFolder();
    Q_DISABLE_COPY(ZTOutputFolder)

    /**
     * Creates the folder at @p path (and its parents) if needed and opens it for a run that reads
     * @p inputs; called once. Returns false and sets @p error (when given) to one short sentence
     * on failure.
     */
    bool open(const QString& path, const QStringList& inputs, QString* error = nullptr);

    /** The folder as given to open(). */
    QString path() const { return m_path; }
    /** The path of the entry @p name in the folder, as reports show it. */
    QString filePath(const QString& name) const;
    /** The open folder, for the *at() system calls; -1 before open(). */
    int descriptor() const { return m_fd; }

    /**
     * Whether the entry @p name, with the status @p existing (null when there is none), is an
     * input of the run or would take the place of one: outputs never replace inputs.
     */
    bool isInput(const QByteArray& name, const struct stat* existing) const;
    /**
     * Whether a file with the status @p existing last changed before the run started: the output
     * of an earlier run, which this one may replace. A file changed since then belongs to another
     * process writing into the folder at the same time.
     */
    bool predatesRun(const struct stat& existing) const;

    /**
     * A name for a temporary file in the folder: hidden, and random, so that a run's temporary
     * files can never take or meet the name of an output.
     */
    static QByteArray temporaryName();

private:
    void noteInputs(const QStringList& inputs, const struct stat& folder);
    void noteStart();

    QString m_path;
    int m_fd = -1;
    timespec m_start {};
    QSet<QByteArray> m_inputNames; ///< inputs that are entries of the folder, present or not
    QSet<ino_t> m_inputInodes;     ///< inputs on the folder's file system, by whatever name
};

#endif // ZTOUTPUTFOLDER_H
