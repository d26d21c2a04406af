#include "ZTSalienceProfile_p.h"

#include "ZTSalienceMap_p.h"

#include <algorithm>
#include <numeric>

ZTSalienceProfile::ZTSalienceProfile(const QImage& image)
    : m_size(image.size())
{
    const QImage map = ZTSalienceMap::with32BitPixels(image);
    const int width = map.width();
    const int height = map.height();
    std::vector<qint64> columns(size_t(width), 0);
    std::vector<qint64> rows(size_t(height), 0);
    for (int y = 0; y < height; ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(map.constScanLine(y));
        qint64 rowSum = 0;
        for (int x = 0; x < width; ++x) {
            const int salience = ZTSalienceMap::salience(line[x]);
            columns[size_t(x)] += salience;
            rowSum += salience;
        }
        rows[size_t(y)] = rowSum;
    }

    m_columns.assign(size_t(width) + 1, 0);
    std::partial_sum(columns.begin(), columns.end(), m_columns.begin() + 1);
    m_rows.assign(size_t(height) + 1, 0);
    std::partial_sum(rows.begin(), rows.end(), m_rows.begin() + 1);
    m_total = m_rows.back();
}

qint64 ZTSalienceProfile::range(const std::vector<qint64>& runningSums, int begin, int end)
{
    const int last = int(runningSums.size()) - 1;
    begin = std::clamp(begin, 0, last);
    end = std::clamp(end, 0, last);
    return end > begin ? runningSums[size_t(end)] - runningSums[size_t(begin)] : 0;
}

qint64 ZTSalienceProfile::columnRange(int begin, int end) const
{
    return range(m_columns, begin, end);
}

qint64 ZTSalienceProfile::rowRange(int begin, int end) const
{
    return range(m_rows, begin, end);
}

QPointF ZTSalienceProfile::centroid() const
{
    if (m_total <= 0) {
        return QPointF(m_size.width() / 2.0, m_size.height() / 2.0);
    }
    // Sum of (x + 0.5) * column salience, from the running sums' differences.
    double weightedX = 0.0;
    for (size_t x = 1; x < m_columns.size(); ++x) {
        weightedX += (double(x) - 0.5) * double(m_columns[x] - m_columns[x - 1]);
    }
    double weightedY = 0.0;
    for (size_t y = 1; y < m_rows.size(); ++y) {
        weightedY += (double(y) - 0.5) * double(m_rows[y] - m_rows[y - 1]);
    }
    return QPointF(weightedX / double(m_total), weightedY / double(m_total));
}
