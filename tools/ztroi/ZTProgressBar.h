#ifndef ZTPROGRESSBAR_H
#define ZTPROGRESSBAR_H

#include <QElapsedTimer>
#include <QString>

#include <cstdio>

/**
 * A one-line progress bar on a terminal stream, redrawn in place, with the time still to go
 * ("[#####.........................] 12/70  ETA 1:05"). Lines that others print to the same
 * stream go through clear() first, so they never mix with the bar.
 */
class ZTProgressBar
{
public:
    /** Draws on @p stream only when @p enabled; otherwise every call does nothing. */
    ZTProgressBar(std::FILE* stream, int total, bool enabled);
    ~ZTProgressBar();

    /** Shows @p done of the total as finished. */
    void update(int done);
    /** Removes the bar from its line; the next update() or redraw() draws it again. */
    void clear();
    /** Draws the bar again as the last update() left it, after lines printed under it. */
    void redraw();

    /**
     * The time left when @p done of @p total pictures took @p elapsedMs milliseconds, at the
     * pace so far: "ETA M:SS", or "ETA H:MM:SS" from an hour on. Empty before the first picture
     * is done (no pace yet) and after the last.
     */
    static QString etaText(qint64 elapsedMs, int done, int total);

private:
    std::FILE* m_stream;
    int m_total;
    bool m_enabled;
    bool m_shown = false;
    int m_done = -1; ///< as the last update() gave it; -1 before the first
    QElapsedTimer m_timer;
};

#endif // ZTPROGRESSBAR_H
