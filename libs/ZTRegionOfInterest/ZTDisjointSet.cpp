#include "ZTDisjointSet.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

namespace {

// Sort order of the convex hull: x first, then y. Strict, so equal points compare false.
bool lexicallySmaller(const QPoint& a, const QPoint& b)
{
    return a.x() < b.x() || (a.x() == b.x() && a.y() < b.y());
}

// p * q - r * s with the wrap-around of 32-bit int arithmetic, but without its undefined
// behaviour: the products are taken modulo 2^64, whose low 32 bits are the int result.
int wrappingDeterminant(qint64 p, qint64 q, qint64 r, qint64 s)
{
    const quint64 value = quint64(p) * quint64(q) - quint64(r) * quint64(s);
    return int(quint32(value));
}

} // namespace

ZTDisjointSet::ZTDisjointSet(int height, int width)
    : m_height(height)
    , m_width(width)
    , m_count(0)
{
    const qint64 product = qint64(height) * width;
    if (product > std::numeric_limits<int>::max() || product < std::numeric_limits<int>::min()) {
        m_height = 0;
        m_width = 0;
        return;
    }
    m_count = int(product);
    if (m_count < 1) {
        return;
    }
    m_elements.reserve(m_count);
    for (int i = 0; i < m_count; ++i) {
        m_elements.append(ZTDisjointElement(0, 1, i));
    }
}

int ZTDisjointSet::getCount()
{
    return m_count;
}

bool ZTDisjointSet::contains(int i) const
{
    return i >= 0 && i < m_elements.size();
}

bool ZTDisjointSet::isEmptyGrid() const
{
    return m_height < 1 || m_width < 1;
}

int ZTDisjointSet::size(int i)
{
    return contains(i) ? m_elements[i].size : 0;
}

// Walks up to the root, then hangs the asked element straight below it. Only that element is
// re-linked: the path it came along is left as it was.
int ZTDisjointSet::find(int i)
{
    if (!contains(i)) {
        return -1;
    }
    ZTDisjointElement* const forest = m_elements.data();
    int root = i;
    while (forest[root].parent != root) {
        root = forest[root].parent;
    }
    forest[i].parent = root;
    return root;
}

// Union by rank; on equal ranks the second root wins. The root that goes below keeps its size.
void ZTDisjointSet::join(int a, int b)
{
    if (a == b || !contains(a) || !contains(b)) {
        return;
    }
    ZTDisjointElement* const forest = m_elements.data();
    if (forest[a].parent != a || forest[b].parent != b) {
        return;
    }
    if (forest[a].rank > forest[b].rank) {
        forest[b].parent = a;
        forest[a].size += forest[b].size;
    } else {
        forest[a].parent = b;
        forest[b].size += forest[a].size;
        if (forest[a].rank == forest[b].rank) {
            ++forest[b].rank;
        }
    }
    --m_count;
}

// Boxes are gathered per root in a table indexed by cell, then handed out in ascending root
// order, which is the order of the map.
QMap<int, QVector<int>> ZTDisjointSet::getSegmentSizes()
{
    QMap<int, QVector<int>> sizes;
    if (isEmptyGrid()) {
        return sizes;
    }
    struct Box
    {
        bool used = false;
        int left = 0;
        int top = 0;
        int right = 0;
        int bottom = 0;
    };
    std::vector<Box> boxes(size_t(m_elements.size()));
    for (int y = 0; y < m_height; ++y) {
        for (int x = 0; x < m_width; ++x) {
            Box& box = boxes[size_t(find(y * m_width + x))];
            if (!box.used) {
                box = Box {true, x, y, x, y};
                continue;
            }
            box.left = std::min(box.left, x);
            box.right = std::max(box.right, x);
            box.top = std::min(box.top, y);
            box.bottom = std::max(box.bottom, y);
        }
    }
    for (int root = 0; root < int(boxes.size()); ++root) {
        const Box& box = boxes[size_t(root)];
        if (box.used) {
            sizes.insert(
                sizes.cend(), root, QVector<int> {box.left, box.top, box.right, box.bottom});
        }
    }
    return sizes;
}

// Every cell adds its top-left and bottom-right corners to its segment's point list. Small
// segments take the mean of these points; larger ones the area centroid of their convex hull.
// Each list is released as soon as its centroid is known.
std::map<int, segment> ZTDisjointSet::getSegmentInformations()
{
    std::map<int, segment> informations;
    if (isEmptyGrid()) {
        return informations;
    }
    const size_t cells = size_t(m_elements.size());
    std::vector<std::vector<QPoint>> points(cells);
    std::vector<segment> segments(cells, segment());
    std::vector<bool> used(cells, false);
    for (int y = 0; y < m_height; ++y) {
        for (int x = 0; x < m_width; ++x) {
            const size_t root = size_t(find(y * m_width + x));
            std::vector<QPoint>& list = points[root];
            list.push_back(QPoint(x, y));
            list.push_back(QPoint(x + 1, y + 1));
            segment& s = segments[root];
            if (!used[root]) {
                used[root] = true;
                s.left = x;
                s.top = y;
                s.right = x + 1;
                s.bottom = y + 1;
                continue;
            }
            s.left = std::min(s.left, x);
            s.top = std::min(s.top, y);
            s.right = std::max(s.right, x + 1);
            s.bottom = std::max(s.bottom, y + 1);
        }
    }

    constexpr int smallestHullSegment = 4;
    for (size_t root = 0; root < cells; ++root) {
        if (!used[root]) {
            continue;
        }
        std::vector<QPoint>& list = points[root];
        segment& s = segments[root];
        if (size(int(root)) < smallestHullSegment) {
            float sumX = 0.0f;
            float sumY = 0.0f;
            for (const QPoint& p : list) {
                sumX += float(p.x());
                sumY += float(p.y());
            }
            const float n = float(list.size());
            s.center = centroid {sumX / n, sumY / n};
        } else {
            std::vector<QPoint> hull = convex_hull(list);
            s.center = calculateCentroid(&hull);
        }
        std::vector<QPoint>().swap(list);
        informations.emplace_hint(informations.end(), int(root), s);
    }
    return informations;
}

// Andrew's monotone chain. A turn of exactly 0 is dropped like a clockwise one, so points on an
// edge and duplicates do not appear in the hull.
std::vector<QPoint> ZTDisjointSet::convex_hull(std::vector<QPoint> points)
{
    const size_t n = points.size();
    std::vector<QPoint> hull(2 * n);
    std::sort(points.begin(), points.end(), lexicallySmaller);
    if (n < 1) {
        return hull;
    }
    size_t k = 0;
    for (size_t i = 0; i < n; ++i) {
        while (k >= 2 && cross(hull[k - 2], hull[k - 1], points[i]) <= 0) {
            --k;
        }
        hull[k++] = points[i];
    }
    const size_t lowerEnd = k + 1;
    for (size_t i = n - 1; i-- > 0;) {
        while (k >= lowerEnd && cross(hull[k - 2], hull[k - 1], points[i]) <= 0) {
            --k;
        }
        hull[k++] = points[i];
    }
    hull.resize(k);
    return hull;
}

// Shoelace formula. The area is summed in double; the moments are kept in float and rounded to
// float after every edge. Zero area divides 0 by 0 and gives NaN.
centroid ZTDisjointSet::calculateCentroid(std::vector<QPoint>* polygon)
{
    if (!polygon || polygon->empty()) {
        throw std::out_of_range("calculateCentroid: polygon without vertices");
    }
    const std::vector<QPoint>& p = *polygon;
    const size_t m = p.size();
    double area = 0.0;
    float momentX = 0.0f;
    float momentY = 0.0f;
    // Edges p[0] -> p[1], ..., p[m - 2] -> p[m - 1], then the closing edge p[m - 1] -> p[0].
    // One loop on purpose: with the closing edge as a separate step after the loop, GCC 12's SLP
    // vectoriser (-O2) skipped the rounding to float of the last moments.
    for (size_t k = 0; k < m; ++k) {
        const QPoint& start = p[k];
        const QPoint& end = p[k + 1 == m ? 0 : k + 1];
        const double w = wrappingDeterminant(start.x(), end.y(), end.x(), start.y());
        area += w;
        momentX = float(double(momentX) + double(qint64(start.x()) + end.x()) * w);
        momentY = float(double(momentY) + double(qint64(start.y()) + end.y()) * w);
    }
    const double sixTimesArea = area * 0.5 * 6.0;
    return centroid {float(double(momentX) / sixTimesArea), float(double(momentY) / sixTimesArea)};
}

int ZTDisjointSet::cross(QPoint o, QPoint a, QPoint b)
{
    return wrappingDeterminant(
        qint64(a.x()) - o.x(), qint64(b.y()) - o.y(), qint64(a.y()) - o.y(), qint64(b.x()) - o.x());
}
