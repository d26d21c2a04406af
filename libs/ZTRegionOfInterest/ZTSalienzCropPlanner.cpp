#include "ZTSalienzCropPlanner.h"

#include "ZTMapGeometry.h"
#include "ZTSalienceProfile_p.h"
#include "ZTSalienzMaximizerHorizontal.h"
#include "ZTSalienzMaximizerVertical.h"

#include <algorithm>
#include <numeric>
#include <optional>
#include <tuple>
#include <vector>

namespace {

// The weighted salience of the window of @p length entries at @p start, from running sums: the
// difference of two of them, modulo 2^64 as the maximizers take it. Defined for start 0 too, so
// that leaving the map's edges out is the caller's decision alone.
qint64 windowSum(const QList<qint64>& runningSums, int start, int length)
{
    const quint64 before = start > 0 ? quint64(runningSums.at(start - 1)) : 0;
    return qint64(quint64(runningSums.at(start + length - 1)) - before);
}

// bestRange() with the candidate starts limited further to first ... last. Limiting bestRange()'s
// result afterwards would not do: the best start of the whole axis may lie outside the range
// while a good one lies inside. Like bestRange(), a window flush with an edge of the map (start 0
// or n - length) is never a candidate, only a strictly positive sum wins, and the earliest of
// equal sums; -1 when no candidate has one.
int bestRangeWithin(const QList<qint64>& runningSums, int length, int first, int last)
{
    const int n = runningSums.size();
    if (length <= 0 || length > n) {
        return -1;
    }
    first = std::max(first, 1);
    last = std::min(last, n - length - 1);
    qint64 best = 0;
    int bestStart = -1;
    for (int i = first; i <= last; ++i) {
        const qint64 sum = windowSum(runningSums, i, length);
        if (sum > best) {
            best = sum;
            bestStart = i;
        }
    }
    return bestStart;
}

// The axis along which a crop's window moves; the window spans the picture on the other one.
struct FreeAxis
{
    Qt::Orientation orientation = Qt::Horizontal;
    QSize window;         ///< the crop's size in picture pixels
    int inputLength = 0;  ///< the picture's length along the axis
    int windowLength = 0; ///< the window's
    int mapLength = 0;    ///< the map's
    int mapWindow = 0;    ///< the window's on the map, rounded
    /** The window's offset across the axis: 0, or centred in the few pixels that an exact
     *  aspect leaves free there. */
    int crossOffset = 0;

    int room() const { return inputLength - windowLength; }
    bool isHorizontal() const { return orientation == Qt::Horizontal; }
    QRect windowAt(int offset) const
    {
        return QRect(
            isHorizontal() ? QPoint(offset, crossOffset) : QPoint(crossOffset, offset), window);
    }
};

struct Placement
{
    int offset = 0;
    bool centred = true;
};

// An area is kept with its core where the window is too small for all of it.
QRect areaFor(const ZTSalienzCropPlanner::DeclaredArea& area, const QSize& window)
{
    const bool fits = area.rect.width() <= window.width() && area.rect.height() <= window.height();
    return fits ? area.rect : area.core;
}

// The window of aspect a : b that spans @p picture along one side, its other side rounded to the
// nearest whole pixel but at least one: for pictures smaller than a x b on a side, where no
// window has the exact aspect. Sides and terms are below 2^31, so the products fit into 64 bits.
QSize nearestWindow(const QSize& picture, qint64 a, qint64 b)
{
    const qint64 width = picture.width();
    const qint64 height = picture.height();
    if (width * b > height * a) {
        return QSize(int(std::clamp<qint64>((height * a + b / 2) / b, 1, width)), int(height));
    }
    return QSize(int(width), int(std::clamp<qint64>((width * b + a / 2) / a, 1, height)));
}

} // namespace

// Hidden: the fields can change without changing the library's binary interface.
class ZTREGIONOFINTEREST_NO_EXPORT ZTSalienzCropPlanner::Private
{
public:
    Private(const QImage& map, const QSize& pictureSize, ZTSalienzPixelWeightMethod method);

    Crop crop(int aspectWidth, int aspectHeight) const;
    double salienceKept(const QRect& inputRect) const;
    QPoint focalPoint() const;
    void setDeclaredAreas(const QList<DeclaredArea>& areas);

    int bestStart(Qt::Orientation axis, int length) const;
    int bestStartWithin(Qt::Orientation axis, int length, int first, int last) const;
    FreeAxis freeAxis(const QSize& window) const;
    Placement placeBySalience(const FreeAxis& axis) const;
    Placement placeAmongAreas(const FreeAxis& axis) const;
    Placement placeWithin(const FreeAxis& axis, int first, int last) const;
    int toInput(const FreeAxis& axis, int mapEdge) const;
    int toMap(const FreeAxis& axis, int inputEdge) const;

    ZTSalienceProfile m_profile;
    ZTMapGeometry m_geometry;
    ZTSalienzMaximizerHorizontal m_horizontal;
    ZTSalienzMaximizerVertical m_vertical;
    // Running sums of the weighted column and row sums, taken once for all crops of the map.
    QList<qint64> m_columns;
    QList<qint64> m_rows;
    QList<DeclaredArea> m_areas; ///< clipped to the picture
    bool m_areasDeclared = false;
};

ZTSalienzCropPlanner::Private::Private(
    const QImage& map, const QSize& pictureSize, ZTSalienzPixelWeightMethod method)
    : m_profile(map)
    , m_geometry(pictureSize, map.size())
    , m_horizontal(method)
    , m_vertical(method)
    , m_columns(m_horizontal.conglumerate(m_horizontal.sums(map)))
    , m_rows(m_vertical.conglumerate(m_vertical.sums(map)))
{}

// The maximizers' own bestRange() on the running sums, which are kept because the limited search
// of bestStartWithin() needs them too.
int ZTSalienzCropPlanner::Private::bestStart(Qt::Orientation axis, int length) const
{
    return axis == Qt::Horizontal ? m_horizontal.bestRange(m_columns, length)
                                  : m_vertical.bestRange(m_rows, length);
}

int ZTSalienzCropPlanner::Private::bestStartWithin(
    Qt::Orientation axis, int length, int first, int last) const
{
    return bestRangeWithin(axis == Qt::Horizontal ? m_columns : m_rows, length, first, last);
}

int ZTSalienzCropPlanner::Private::toInput(const FreeAxis& axis, int mapEdge) const
{
    return axis.isHorizontal() ? m_geometry.toInputX(mapEdge) : m_geometry.toInputY(mapEdge);
}

int ZTSalienzCropPlanner::Private::toMap(const FreeAxis& axis, int inputEdge) const
{
    return axis.isHorizontal() ? m_geometry.toMapX(inputEdge) : m_geometry.toMapY(inputEdge);
}

void ZTSalienzCropPlanner::Private::setDeclaredAreas(const QList<DeclaredArea>& areas)
{
    m_areasDeclared = true;
    m_areas.clear();
    const QRect picture(QPoint(0, 0), m_geometry.inputSize());
    for (const DeclaredArea& area : areas) {
        DeclaredArea clipped {area.rect.intersected(picture), area.core.intersected(picture)};
        if (!clipped.rect.isEmpty()) {
            if (clipped.core.isEmpty()) {
                clipped.core = clipped.rect;
            }
            m_areas.append(clipped);
        }
    }
}

ZTSalienzCropPlanner::Crop ZTSalienzCropPlanner::Private::crop(
    int aspectWidth, int aspectHeight) const
{
    Crop crop;
    const QSize input = m_geometry.inputSize();
    const QSize window = largestWindow(input, aspectWidth, aspectHeight);
    if (window.isValid()) {
        crop.rect = QRect(QPoint(0, 0), window);
        if (window.width() < input.width() || window.height() < input.height()) {
            const FreeAxis axis = freeAxis(window);
            const Placement placement
                = m_areas.isEmpty() ? placeBySalience(axis) : placeAmongAreas(axis);
            crop.rect = axis.windowAt(placement.offset);
            crop.centred = placement.centred;
        }
        crop.salienceKept = salienceKept(crop.rect);
    }
    if (m_areasDeclared) {
        crop.areasKept = int(
            std::count_if(m_areas.cbegin(), m_areas.cend(), [&crop](const DeclaredArea& area) {
                return crop.rect.contains(areaFor(area, crop.rect.size()));
            }));
    }
    return crop;
}

FreeAxis ZTSalienzCropPlanner::Private::freeAxis(const QSize& window) const
{
    const QSize input = m_geometry.inputSize();
    const QSize map = m_geometry.mapSize();
    FreeAxis axis;
    axis.window = window;
    // The window moves along the side of which it leaves the larger share.
    const qint64 widthLeft = qint64(input.width() - window.width()) * input.height();
    const qint64 heightLeft = qint64(input.height() - window.height()) * input.width();
    if (widthLeft > heightLeft || (widthLeft == heightLeft && widthLeft > 0)) {
        axis.inputLength = input.width();
        axis.windowLength = window.width();
        axis.mapLength = map.width();
        axis.crossOffset = (input.height() - window.height()) / 2;
    } else {
        axis.orientation = Qt::Vertical;
        axis.inputLength = input.height();
        axis.windowLength = window.height();
        axis.mapLength = map.height();
        axis.crossOffset = (input.width() - window.width()) / 2;
    }
    axis.mapWindow
        = ZTMapGeometry::scaleRounded(axis.windowLength, axis.mapLength, axis.inputLength);
    return axis;
}

Placement ZTSalienzCropPlanner::Private::placeBySalience(const FreeAxis& axis) const
{
    // A window that covers the whole map axis has nowhere to go.
    const int start
        = axis.mapWindow < axis.mapLength ? bestStart(axis.orientation, axis.mapWindow) : -1;
    if (start < 0) {
        return {axis.room() / 2, true};
    }
    return {std::clamp(toInput(axis, start), 0, axis.room()), false};
}

// An area [begin, end) along the axis is whole in the window at offset o when end - length <= o
// <= begin. A set of areas fits together when these ranges meet, and every largest set that fits
// contains a point where one of its ranges starts; so the sets to compare are those found at the
// first offset of each area's range. Their freedom runs from that offset to the nearest end of
// the ranges that hold it.
Placement ZTSalienzCropPlanner::Private::placeAmongAreas(const FreeAxis& axis) const
{
    struct Range
    {
        int first;
        int last;
        qint64 pixels;
    };
    std::vector<Range> ranges;
    for (const DeclaredArea& declared : m_areas) {
        const QRect area = areaFor(declared, axis.window);
        const int begin = axis.isHorizontal() ? area.left() : area.top();
        const int end = begin + (axis.isHorizontal() ? area.width() : area.height());
        const Range range {std::max(end - axis.windowLength, 0), std::min(begin, axis.room()),
            qint64(area.width()) * area.height()};
        if (range.first <= range.last) {
            ranges.push_back(range);
        }
    }
    if (ranges.empty()) {
        return placeBySalience(axis);
    }
    std::sort(ranges.begin(), ranges.end(),
        [](const Range& a, const Range& b) { return a.first < b.first; });

    struct Choice
    {
        int count = 0;
        qint64 pixels = 0;
        double salience = 0.0;
        Placement placement;
    };
    std::optional<Choice> best;
    for (const Range& anchor : ranges) {
        Choice choice;
        int last = axis.room();
        for (const Range& range : ranges) {
            if (range.first <= anchor.first && anchor.first <= range.last) {
                ++choice.count;
                choice.pixels += range.pixels;
                last = std::min(last, range.last);
            }
        }
        if (best && std::tie(choice.count, choice.pixels) < std::tie(best->count, best->pixels)) {
            continue;
        }
        choice.placement = placeWithin(axis, anchor.first, last);
        choice.salience = salienceKept(axis.windowAt(choice.placement.offset));
        // Of equal sets, the one whose placement keeps more salience, then the earliest.
        if (!best
            || std::tie(choice.count, choice.pixels, choice.salience)
                > std::tie(best->count, best->pixels, best->salience)) {
            best = choice;
        }
    }
    return best->placement;
}

// The most salient window among the offsets first ... last (picture pixels): the map starts whose
// offsets lie in that range are searched. Without a positive window there, or without a map start
// in the range, the window is centred in it.
Placement ZTSalienzCropPlanner::Private::placeWithin(
    const FreeAxis& axis, int first, int last) const
{
    if (axis.mapWindow < axis.mapLength) {
        // Rounding puts the converted offsets within a map pixel of the exact ones.
        int firstStart = toMap(axis, first);
        while (firstStart > 0 && toInput(axis, firstStart - 1) >= first) {
            --firstStart;
        }
        while (toInput(axis, firstStart) < first) {
            ++firstStart;
        }
        int lastStart = toMap(axis, last);
        while (toInput(axis, lastStart) > last) {
            --lastStart;
        }
        while (toInput(axis, lastStart + 1) <= last) {
            ++lastStart;
        }
        const int start = firstStart <= lastStart
            ? bestStartWithin(axis.orientation, axis.mapWindow, firstStart, lastStart)
            : -1;
        if (start >= 0) {
            return {std::clamp(toInput(axis, start), first, last), false};
        }
    }
    return {first + (last - first) / 2, first < last};
}

double ZTSalienzCropPlanner::Private::salienceKept(const QRect& inputRect) const
{
    const qint64 total = m_profile.total();
    if (total <= 0 || inputRect.isEmpty()) {
        return 0.0;
    }
    // Map pixels are counted when the crop's edges, converted to the map, enclose them; the
    // share is then taken on the axis of which the crop leaves the larger share out (the few
    // pixels that an exact aspect trims across it are not counted).
    const QSize input = m_geometry.inputSize();
    const qint64 widthLeft = qint64(input.width() - inputRect.width()) * input.height();
    const qint64 heightLeft = qint64(input.height() - inputRect.height()) * input.width();
    qint64 kept = total;
    if (widthLeft > 0 && widthLeft >= heightLeft) {
        kept = m_profile.columnRange(
            m_geometry.toMapX(inputRect.left()), m_geometry.toMapX(inputRect.right() + 1));
    } else if (heightLeft > 0) {
        kept = m_profile.rowRange(
            m_geometry.toMapY(inputRect.top()), m_geometry.toMapY(inputRect.bottom() + 1));
    }
    return double(kept) / double(total);
}

QPoint ZTSalienzCropPlanner::Private::focalPoint() const
{
    const QSize input = m_geometry.inputSize();
    const QSize map = m_geometry.mapSize();
    if (input.isEmpty() || map.isEmpty()) {
        return QPoint();
    }
    const QPointF centre = m_profile.centroid();
    const int x = int(centre.x() * input.width() / map.width());
    const int y = int(centre.y() * input.height() / map.height());
    return QPoint(std::clamp(x, 0, input.width() - 1), std::clamp(y, 0, input.height() - 1));
}

ZTSalienzCropPlanner::ZTSalienzCropPlanner(
    const QImage& salienceMap, const QSize& pictureSize, ZTSalienzPixelWeightMethod method)
    : d(std::make_unique<Private>(salienceMap, pictureSize, method))
{}

ZTSalienzCropPlanner::ZTSalienzCropPlanner(const ZTSalienzCropPlanner& other)
    : d(std::make_unique<Private>(*other.d))
{}

ZTSalienzCropPlanner::ZTSalienzCropPlanner(ZTSalienzCropPlanner&& other) noexcept = default;

ZTSalienzCropPlanner& ZTSalienzCropPlanner::operator=(const ZTSalienzCropPlanner& other)
{
    if (this != &other) {
        d = std::make_unique<Private>(*other.d);
    }
    return *this;
}

ZTSalienzCropPlanner& ZTSalienzCropPlanner::operator=(
    ZTSalienzCropPlanner&& other) noexcept = default;

ZTSalienzCropPlanner::~ZTSalienzCropPlanner() = default;

QSize ZTSalienzCropPlanner::pictureSize() const
{
    return d->m_geometry.inputSize();
}

void ZTSalienzCropPlanner::setDeclaredAreas(const QList<DeclaredArea>& areas)
{
    d->setDeclaredAreas(areas);
}

ZTSalienzCropPlanner::Crop ZTSalienzCropPlanner::cropForAspect(
    int aspectWidth, int aspectHeight) const
{
    return d->crop(aspectWidth, aspectHeight);
}

// largestWindow() reduces the aspect first, which gives the same window for an output size as for
// its reduced aspect.
ZTSalienzCropPlanner::Crop ZTSalienzCropPlanner::cropForSize(const QSize& outputSize) const
{
    return d->crop(outputSize.width(), outputSize.height());
}

QPoint ZTSalienzCropPlanner::focalPoint() const
{
    return d->focalPoint();
}

double ZTSalienzCropPlanner::salienceKept(const QRect& pictureRect) const
{
    return d->salienceKept(pictureRect);
}

QSize ZTSalienzCropPlanner::largestWindow(const QSize& picture, int aspectWidth, int aspectHeight)
{
    if (picture.isEmpty() || aspectWidth <= 0 || aspectHeight <= 0) {
        return QSize();
    }
    const int divisor = std::gcd(aspectWidth, aspectHeight);
    const int unitWidth = aspectWidth / divisor;
    const int unitHeight = aspectHeight / divisor;
    const int units = std::min(picture.width() / unitWidth, picture.height() / unitHeight);
    if (units >= 1) {
        return QSize(units * unitWidth, units * unitHeight);
    }
    return nearestWindow(picture, unitWidth, unitHeight);
}
