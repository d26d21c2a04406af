#ifndef ZTRUNTOTALS_H
#define ZTRUNTOTALS_H

#include "types/ZTPictureReport.h"

#include <QString>

/** What one run of ztroi did, added up over its pictures' reports, for its last line. */
class ZTRunTotals
{
public:
    /** Counts @p report: analysed or failed, its files, its enlarged and weak crops. */
    void add(const ZTPictureReport& report);

    /**
     * One line, without its line feed: "12 pictures analysed, 1 failed; 36 files written;
     * crops: 3 enlarged, 2 weak; 4.81 s", @p seconds being the run's time.
     */
    QString text(double seconds) const;

    int analysed = 0;
    int failed = 0;
    int filesWritten = 0;
    int cropsEnlarged = 0;
    int cropsWeak = 0;
};

#endif // ZTRUNTOTALS_H
