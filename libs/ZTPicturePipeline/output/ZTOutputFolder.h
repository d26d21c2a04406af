#ifndef ZTOUTPUTFOLDER_H
#define ZTOUTPUTFOLDER_H

#include "types/ZTError.h"

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QStringList>

#include <sys/stat.h>

/**
 * The folder that one run of ztroi writes into, opened once: every output is then named relative
 * to it, so no output lands outside it whatever happens to the path meanwhile. It also knows what
 * the rules for existing files need: which of its entries are inputs of the run, and which files
 * ztroi wrote itself. ZTOutputTransaction writes the files. Safe to share between threads once
 * open.
 *
 * ztroi's record of its own files is the hidden folder .ztroi-record: for each output name one
 * small entry of that name, saying which file ztroi placed there (inode, size, modification and
 * status change times to the nanosecond) and for which input. An entry is written only after its
 * file has its name and is read no further than maxEntryBytes. An entry that is missing, damaged, a
 * link or not a regular file, and a record that is not a real folder, say nothing: the file under
 * the name then counts as the user's.
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
    /**
     * Creates and opens the folder as open() above, for a run whose inputs are then told one at
     * a time with noteInput(), all of them before the first output is written.
     */
    bool open(const QString& path, QString* error = nullptr);
    /**
     * Creates (when missing) and opens the subfolder @p relative ("a/b") of the open folder
     * @p root, which must outlive this one and know all its inputs: the subfolder shares them.
     * Each level is made and opened relative to the one above; a symbolic link, a file or
     * anything but a folder where a folder is needed, and a name that is not a plain folder name
     * (".", "..", ztroi's own hidden names), fail with one short sentence in @p error (when
     * given). Called once, instead of open().
     */
    bool openSubfolder(
        const ZTOutputFolder& root, const QString& relative, QString* error = nullptr);
    /**
     * Tells the open folder of one input of the run. Only the inputs that an output could take
     * the place of are remembered: those named in the folder or in a folder beneath it, links,
     * and files with more than one name. The memory is thus that of those few, however many inputs
     * a run has.
     */
    void noteInput(const QString& input);
    /** The kind of open()'s failure: Permission or WriteFailed. */
    ZTError::Kind errorKind() const { return m_errorKind; }

    /** The path of the entry @p name in the folder, as reports show it. */
    QString filePath(const QString& name) const;
    /** The open folder, for the *at() system calls; -1 before open(). */
    int descriptor() const { return m_fd; }

    /**
     * Whether the entry @p name, with the status @p existing (null when there is none), is an
     * input of the run or would take the place of one: outputs never replace inputs.
     */
    bool isInput(const QByteArray& name, const struct stat* existing) const;
    /** Who wrote the regular file under an output name, as far as the record tells. */
    enum class Writer {
        ThisInput,  ///< ztroi, for the same input, and the file is unchanged since
        OtherInput, ///< ztroi, for another input, and the file is unchanged since
        Changed,    ///< ztroi wrote a file under that name, but this is no longer that file
        Unknown,    ///< no entry, or one that cannot be read: the user
    };
    /**
     * Who wrote the regular file @p name with the status @p existing, when ztroi would write the
     * file for the input @p input (inputIdentity()).
     */
    Writer writerOf(
        const QByteArray& name, const struct stat& existing, const QByteArray& input) const;
    /**
     * Notes in the record that the file with the status @p placed, now under @p name, was
     * written for @p input. Returns false when the record cannot be written; the file then counts
     * as the user's.
     */
    bool record(const QByteArray& name, const struct stat& placed, const QByteArray& input) const;
    /**
     * What the record knows the input at @p path by: its absolute path as bytes, or for the
     * @p bundled photograph its resource name. Paths are joined and cleaned as text, not
     * resolved: the same file named by two paths counts as two inputs.
     */
    static QByteArray inputIdentity(const QString& path, bool bundled);
    /** The longest record entry that is read: a file name, an input path and a few numbers. */
    static constexpr int maxEntryBytes = 65536;

    /**
     * A name for a temporary file in the folder: hidden, and random, so that a run's temporary
     * files can never take or meet the name of an output.
     */
    static QByteArray temporaryName();

private:
    void openRecord();
    bool isWithin(const QByteArray& path, struct stat status) const;
    const ZTOutputFolder& root() const { return m_root ? *m_root : *this; }

    QString m_path;
    int m_fd = -1;
    ZTError::Kind m_errorKind = ZTError::Kind::None;
    int m_recordFd = -1;                    ///< the record's folder; -1 when there is none to trust
    const ZTOutputFolder* m_root = nullptr; ///< for a subfolder: the folder that knows the inputs
    /** Inputs that are entries of the folder or of one beneath it, present or not: the folder's
     *  identity (folderKey()) followed by the entry's name. */
    QSet<QByteArray> m_inputNames;
    QSet<ino_t> m_inputInodes;  ///< inputs on the folder's file system that could be entries
    struct stat m_status = {};  ///< the folder's
    QString m_lastParent;       ///< the folder of the last input noted, and whether it is inside
    QByteArray m_lastParentKey; ///< its folderKey() when it is inside; empty otherwise
};

#endif // ZTOUTPUTFOLDER_H
