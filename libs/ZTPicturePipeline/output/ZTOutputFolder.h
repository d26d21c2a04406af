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
 * the rules for existing files need: when the run started, whether other runs were writing into
 * the folder then, and which of its entries are inputs of the run. ZTOutputTransaction writes the
 * files. Safe to share between threads once open.
 *
 * Runs tell each other apart by locks on the folder, which the system drops when a process ends:
 * each run holds a shared lock while it is open, and takes the exclusive one for a moment at its
 * start if it can. On file systems without such locks every run counts as the only one.
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
     * Whether the regular file with the status @p existing may be replaced: only the output of an
     * earlier run may. That is a file that last changed before this run started, at a time when
     * no other ztroi was writing into the folder. Otherwise it may belong to a run still going on.
     */
    bool mayReplace(const struct stat& existing) const;

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
    bool m_othersWriting = false; ///< another ztroi had the folder open when this run started
    timespec m_start {};
    QSet<QByteArray> m_inputNames; ///< inputs that are entries of the folder, present or not
    QSet<ino_t> m_inputInodes;     ///< inputs on the folder's file system, by whatever name
};

#endif // ZTOUTPUTFOLDER_H
