#ifndef ZTREVIEWPAGE_H
#define ZTREVIEWPAGE_H

#include "types/ZTPictureReport.h"

#include <QByteArray>
#include <QDir>
#include <QImage>
#include <QList>
#include <QRect>
#include <QSaveFile>
#include <QSize>
#include <QString>

/**
 * The review page of a batch (--report FILE.html): one self-contained HTML file with an entry per
 * picture, in input order. An entry shows the picture once, embedded as a small JPEG, with the
 * faces, the declared areas and the focal point drawn over it; each crop as a preview of its own
 * (the same embedded picture, framed to the crop), with its score, scale, warnings and a link to
 * its file; the heat map behind a toggle; the grid scores and links to the other files. Failed
 * pictures are listed with their errors at the top. A small inline script, allowed by the page's
 * content security policy through its hash, sorts and filters the entries by warning and moves
 * between them with the keyboard; without it the page is still whole. The page needs no network
 * and no file but the ones it links to, relative to its own folder.
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
    /**
     * Sets the review page's pictures of @p report, which must have its inputSize and focus: the
     * thumbnail of @p picture and the heat map of its salience @p map (as in the overlay, at the
     * thumbnail's size). Either stays empty when it cannot be made.
     */
    static void makePreviews(const QImage& picture, const QImage& map, ZTPictureReport* report);

    /** A page at @p path for @p count pictures. */
    ZTReviewPage(const QString& path, int count);

    /** The --area rectangles, in input pixels, drawn over every picture as declared areas. */
    void setDeclaredAreas(const QList<QRect>& areas);
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

    /**
     * The entry of @p report, number @p number, with links relative to @p folder and the
     * declared @p areas drawn.
     */
    static QString entry(const ZTPictureReport& report, int number, const QDir& folder,
        const QList<QRect>& areas = QList<QRect>());

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
    QList<QRect> m_areas;
};

#endif // ZTREVIEWPAGE_H
