#ifndef ZTOUTPUTTRANSACTION_H
#define ZTOUTPUTTRANSACTION_H

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

#include <functional>
#include <sys/types.h>
#include <vector>

class ZTOutputFolder;

/**
 * The files that one picture writes into the output folder, all or nothing. Each file is written
 * under a temporary name and then takes its own name in one step, so a name never holds a half
 * written file. rollback() removes the files that were created and puts back the ones that were
 * replaced, exactly as they were; commit() keeps the new files.
 *
 * The name STEM.SUFFIX that a file is written to:
 * - when it is free, it is claimed without replacing anything;
 * - a regular file is replaced only when ztroi's record shows that ztroi wrote that very file,
 *   unchanged since, for the same input (see ZTOutputFolder::writerOf());
 * - any other regular file (the user's, one changed since ztroi wrote it, another input's
 *   output) stays: the file takes the next name that is free or holds its input's own earlier
 *   file, STEM-2.SUFFIX, STEM-3.SUFFIX, ...;
 * - a symbolic link (dangling or not), a folder or any other kind of file, and an input of the
 *   run, are neither replaced nor written through: the write fails.
 * commit() notes the new files in the record, after they have their names.
 *
 * On file systems without renameat2()'s flags and without hard links (FAT, exFAT) a replaced
 * file is moved aside before the new one takes its name: for that moment the name is free, and
 * another process could take it. The replaced file still comes back on rollback().
 *
 * One transaction is used by one thread; transactions of different threads may share a folder.
 */
class ZTOutputTransaction
{
public:
    /**
     * Writes into @p folder, which must be open and outlive the transaction, the files of the
     * input @p input (ZTOutputFolder::inputIdentity()).
     */
    ZTOutputTransaction(const ZTOutputFolder& folder, const QByteArray& input);
    /** Rolls back unless commit() was called. */
    ~ZTOutputTransaction();
    Q_DISABLE_COPY(ZTOutputTransaction)

    /**
     * Writes @p data as the file @p stem + @p suffix in the folder, or under the next free name.
     * Returns the file's path as ZTOutputFolder::filePath() gives it, or an empty string and sets
     * @p error (when given) to one short sentence. When the file took another name, @p kept (when
     * given) says why the file under its own name stayed ("not written by ztroi", "changed since
     * ztroi wrote it" or "written by ztroi for another input"); else it is emptied.
     */
    QString write(const QString& stem, const QString& suffix, const QByteArray& data,
        QString* error, QString* kept = nullptr);
    /**
     * Encodes @p image in the format that @p suffix ends in (".png", ".jpg", ...) at @p quality as
     * for QImageWriter (-1: the format's default), and write()s it. An image larger than the
     * format holds (sizeLimitText()) is refused before it is encoded.
     */
    QString writeImage(const QString& stem, const QString& suffix, const QImage& image, int quality,
        QString* error, QString* kept = nullptr);

    /**
     * Why an image of @p size cannot be stored in the format @p format ("jpg", "webp", ...), in
     * words ("JPEG holds at most 65500 pixels on a side"); empty when it can.
     */
    static QString sizeLimitText(const QString& format, const QSize& size);

    /** The folder that the files are written into. */
    const ZTOutputFolder& folder() const { return m_folder; }

    /** Keeps every file written so far; a later rollback() leaves them alone. */
    void commit();
    /** Removes the files written so far and restores the ones that they replaced. */
    void rollback();

    /** Ways of placing a file that some file systems lack (FAT and exFAT lack all three). */
    enum Primitive {
        RenameNoReplace = 0x1, ///< renameat2(RENAME_NOREPLACE)
        RenameExchange = 0x2,  ///< renameat2(RENAME_EXCHANGE)
        HardLinks = 0x4,
    };
    /**
     * For tests: the transaction behaves as on a file system without the @p primitives (an OR of
     * Primitive), and calls @p beforeTaking (when given) with each name that it looked at, just
     * before it takes that name.
     */
    void simulate(int primitives, std::function<void(const QByteArray&)> beforeTaking = {});

private:
    /** A file that took its name: the previous file under that name, if any, is kept aside. */
    struct Placed
    {
        QByteArray name;
        ino_t inode;       ///< the new file
        QByteArray backup; ///< where the replaced file waits; empty when nothing was replaced
        ino_t replaced;    ///< the replaced file, which the record showed as this input's
    };
    struct Temporary;
    enum class Step { Done, NextName, Again, Failed };

    Step place(
        Temporary& temporary, const QByteArray& name, int* errnum, QString* why, QString* kept);
    int claimFreeName(Temporary& temporary, const QByteArray& name);
    int replaceFile(Temporary& temporary, const QByteArray& name, QByteArray* backup);
    int keepAside(const QByteArray& name, QByteArray* backup, bool* moved);
    int renameNoReplace(const QByteArray& from, const QByteArray& to);
    bool offers(Primitive primitive) const;
    bool writeTemporary(Temporary& temporary, const QByteArray& data, int* errnum);
    void recordIfStill(const QByteArray& name, ino_t inode) const;

    const ZTOutputFolder& m_folder;
    const QByteArray m_input;
    std::vector<Placed> m_placed;
    int m_missing = 0; ///< the primitives that a test takes away
    std::function<void(const QByteArray&)> m_beforeTaking;
};

#endif // ZTOUTPUTTRANSACTION_H
