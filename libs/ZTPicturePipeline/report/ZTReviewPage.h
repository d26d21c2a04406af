#ifndef ZTREVIEWPAGE_H
#define ZTREVIEWPAGE_H

#include "types/ZTPictureReport.h"

#include <QByteArray>
#include <QDir>
#include <QImage>
#include <QList>
#include <QSaveFile>
#include <QSize>
#include <QString>

/**
 * The review page of a batch (--report FILE.html): one self-contained HTML file with an entry per
 * picture, in input order. An entry shows an embedded thumbnail with the crops drawn in their
 * overlay colours and the focal point as a ring, a table of the crops with their scores, the
 * grid scores and links to the files written; a failed picture shows its error, and the page
 * ends with a list of the failures. It needs no network, no script and no file but the ones it
 * links to, relative to its own folder.
 *
 * The page is written as the pictures arrive and takes the place of the file only at commit(),
 * so a failed run leaves any earlier page whole.
 */
class ZTReviewPage
{
public:
    /** Thumbnails are at most this many pixels on their longer side. */
    static constexpr int thumbnailSide = 320;

    /** The thumbnail's size for an upright picture of @p picture pixels; never enlarged. */
    static QSize thumbnailSize(const QSize& picture);
    /**
     * A JPEG thumbnail of @p picture, a decode (possibly reduced) of a picture of @p inputSize
     * pixels; empty when it cannot be made.
     */
    static QByteArray thumbnail(const QImage& picture, const QSize& inputSize);

    /** A page at @p path for @p count pictures. */
    ZTReviewPage(const QString& path, int count);

    /** Starts writing; false, with @p error set to one sentence, when the file cannot be made. */
    bool open(QString* error);
    /** Adds the entry of the next picture. */
    void add(const ZTPictureReport& report);
    /**
     * Says at the top of the page that the run was stopped by @p signal before all pictures
     * were analysed, and how many were; 0 (the default) says nothing.
     */
    void setStoppedBy(int signal);
    /** Finishes the page and puts it in place; false, with @p error set, on failure. */
    bool commit(QString* error);

    /** The entry of @p report, number @p number, with links relative to @p folder. */
    static QString entry(const ZTPictureReport& report, int number, const QDir& folder);

private:
    void write(const QString& html);
    void writeStopNote();

    QSaveFile m_file;
    QDir m_folder;
    int m_count;
    int m_added = 0;
    int m_failed = 0;
    int m_stopSignal = 0;
    qint64 m_stopNoteAt = 0; ///< where the room for the stop note starts
    QString m_failures;
};

#endif // ZTREVIEWPAGE_H
