#ifndef ZTSALIENCEPROFILE_P_H
#define ZTSALIENCEPROFILE_P_H

// The crop planner's sums of a salience map. Not installed.

#include <QImage>
#include <QPointF>

#include <vector>

/**
 * The salience of a map summed per column and per row, read once: the basis of the salience that
 * a crop keeps and of the map's salience-weighted centroid (its focal point).
 *
 * Salience is the red component of each pixel (0 ... 255), counted linearly.
 */
class ZTSalienceProfile
{
public:
    /** Sums @p map; a null map gives empty sums and a total of 0. Maps of any depth are read. */
    explicit ZTSalienceProfile(const QImage& map);

    QSize mapSize() const { return m_size; }
    /** The salience of the whole map. */
    qint64 total() const { return m_total; }
    /** The salience of columns [@p begin, @p end), clamped to the map; 0 for an empty range. */
    qint64 columnRange(int begin, int end) const;
    /** The salience of rows [@p begin, @p end), clamped to the map; 0 for an empty range. */
    qint64 rowRange(int begin, int end) const;

    /**
     * The salience-weighted centroid in map coordinates, where pixel (x, y) stands for its
     * centre (x + 0.5, y + 0.5). A map without salience gives the map's centre.
     */
    QPointF centroid() const;

private:
    static qint64 range(const std::vector<qint64>& runningSums, int begin, int end);

    QSize m_size;
    qint64 m_total = 0;
    // Running sums with a leading 0: entry k holds the salience of the first k columns (rows).
    std::vector<qint64> m_columns;
    std::vector<qint64> m_rows;
};

#endif // ZTSALIENCEPROFILE_P_H
