#include "ZTSalienzMaximizerAbstract.h"

#include <algorithm>

ZTSalienzMaximizerAbstract::~ZTSalienzMaximizerAbstract() = default;

// Accumulates in unsigned arithmetic: an overflowing list wraps around instead of being
// undefined, and bestRange()'s differences of two entries come out right modulo 2^64.
QList<qint64> ZTSalienzMaximizerAbstract::conglumerate(const QList<qint64>& values) const
{
    QList<qint64> running;
    running.reserve(values.size());
    quint64 sum = 0;
    for (const qint64 value : values) {
        sum += quint64(value);
        running.append(qint64(sum));
    }
    return running;
}

int ZTSalienzMaximizerAbstract::bestRange(const QList<qint64>& runningSums, int length) const
{
    if (length < 0) {
        return -1;
    }
    const int n = runningSums.size();
    if (n < length) {
        return 0;
    }
    const int lastStart = n - length - 1; // the window at n - length would touch the far edge
    if (lastStart < 1) {
        return -1;
    }
    qint64 best = -1;
    int bestStart = 0;
    for (int i = 1; i <= lastStart; ++i) {
        const qint64 sum
            = qint64(quint64(runningSums.at(i + length - 1)) - quint64(runningSums.at(i - 1)));
        // Only a strictly positive sum can win, and a later equal sum never replaces it.
        if (sum > std::max<qint64>(best, 0)) {
            best = sum;
            bestStart = i;
        }
    }
    return best == -1 ? -1 : bestStart;
}

int ZTSalienzMaximizerAbstract::startOfBestRange(const QImage& map, int length) const
{
    return bestRange(conglumerate(sums(map)), length);
}
