#ifndef ZTPROGRESSBAR_H
#define ZTPROGRESSBAR_H

#include <cstdio>

/**
 * A one-line progress bar on a terminal stream, redrawn in place. Lines that others print to the
 * same stream go through clear() first, so they never mix with the bar.
 */
class ZTProgressBar
{
public:
    /** Draws on @p stream only when @p enabled; otherwise every call does nothing. */
    ZTProgressBar(std::FILE* stream, int total, bool enabled);
    ~ZTProgressBar();

    /** Shows @p done of the total as finished. */
    void update(int done);
    /** Removes the bar from its line; the next update() draws it again. */
    void clear();

private:
    std::FILE* m_stream;
    int m_total;
    bool m_enabled;
    bool m_shown = false;
};

#endif // ZTPROGRESSBAR_H
