#ifndef ZTSALIENZMAXIMIZERABSTRACT_H
#define ZTSALIENZMAXIMIZERABSTRACT_H

#include "ZTRegionOfInterestExport.h"

#include <QImage>
#include <QList>

/**
 * Finds where a window of a given length along one axis of a salience map holds the most
 * salience, for cropping. Subclasses choose the axis by summing the map's columns
 * (ZTSalienzMaximizerHorizontal) or rows (ZTSalienzMaximizerVertical).
 */
class ZTREGIONOFINTEREST_EXPORT ZTSalienzMaximizerAbstract
{
public:
    virtual ~ZTSalienzMaximizerAbstract();

    /** One weighted salience sum per position along the subclass's axis of @p map. */
    virtual QList<qint64> sums(const QImage& map) const = 0;

    /**
     * The running inclusive sums of @p values: entry k is values[0] + ... + values[k]. Same
     * length as @p values; empty for an empty list. Sums that leave the 64-bit range wrap
     * around, which keeps every difference of two entries exact while the window it spans fits.
     */
    QList<qint64> conglumerate(const QList<qint64>& values) const;

    /**
     * The start of the window of @p length entries with the largest strictly positive sum, given
     * the running sums @p runningSums of n entries. Candidate starts are 1 ... n - length - 1, so
     * a window flush with either edge is never chosen; of equal sums the earliest start wins.
     *
     * Returns 0 when n < @p length; -1 when n is @p length or @p length + 1, when no candidate
     * window has a positive sum (so a length of 0 always gives -1), and for a negative length.
     */
    int bestRange(const QList<qint64>& runningSums, int length) const;

    /**
     * bestRange(conglumerate(sums(@p map)), @p length): a start column for the horizontal
     * maximizer, a start row for the vertical one, or one of bestRange()'s special results.
     */
    int startOfBestRange(const QImage& map, int length) const;
};

#endif // ZTSALIENZMAXIMIZERABSTRACT_H
