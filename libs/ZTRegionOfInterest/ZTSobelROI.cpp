#include "ZTSobelROI.h"

#include "ZTGaussianBlur.h"
#include "ZTMaxFilter.h"
#include "ZTSalienceMap_p.h"
#include "ZTSimd_p.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <typeinfo>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr std::array<int, 9> horizontalEdgeKernel = {1, 2, 1, 0, 0, 0, -1, -2, -1};
constexpr std::array<int, 9> verticalEdgeKernel = {1, 0, -1, 2, 0, -2, 1, 0, -1};

// (totalWeight() / 2) * 3 for either kernel: the strongest response, 3 * 4 * 255, maps to 255.
constexpr int responseDivisor = 12;

// The blur before the edge detection and the spreading of strong edges after it.
constexpr int blurSize = 3;
constexpr double blurSigma = 2.6;
constexpr int spreadSize = 7;
constexpr int spreadThreshold = 50;
// Rows of the map that the maximum filter takes at a time (see spreadInPlace()).
constexpr int spreadBandRows = 64;

// Grey value v with the alpha of @p alphaSource.
inline QRgb greyWithAlpha(QRgb alphaSource, QRgb v)
{
    return (alphaSource & ZTSalienceMap::opaqueAlpha) | (v << 16) | (v << 8) | v;
}

// Rows y - 1, y and y + 1 of one colour plane.
struct PlaneRows
{
    const quint8* above;
    const quint8* middle;
    const quint8* below;
};

// The correlation of one channel with kernel K at column x (exact in int): rows a, b, c are the
// rows above, at and below the pixel.
template<const std::array<int, 9>& K>
inline int channelResponse(
    const quint8* __restrict a, const quint8* __restrict b, const quint8* __restrict c, size_t x)
{
    return K[0] * a[x - 1] + K[1] * a[x] + K[2] * a[x + 1] + K[3] * b[x - 1] + K[4] * b[x]
        + K[5] * b[x + 1] + K[6] * c[x - 1] + K[7] * c[x] + K[8] * c[x + 1];
}

// The edge response of kernel K for x = 1 ... width - 2 of one row: the sum of the three
// absolute channel responses divided by 12, truncated; it never exceeds 255, so it fits a byte.
// The kernel is a template argument, so its zero entries cost nothing and the loop vectorises.
template<const std::array<int, 9>& K>
void responseRow(const PlaneRows (&channels)[3], size_t width, quint8* __restrict out)
{
    const quint8* __restrict const redAbove = channels[0].above;
    const quint8* __restrict const red = channels[0].middle;
    const quint8* __restrict const redBelow = channels[0].below;
    const quint8* __restrict const greenAbove = channels[1].above;
    const quint8* __restrict const green = channels[1].middle;
    const quint8* __restrict const greenBelow = channels[1].below;
    const quint8* __restrict const blueAbove = channels[2].above;
    const quint8* __restrict const blue = channels[2].middle;
    const quint8* __restrict const blueBelow = channels[2].below;
    for (size_t x = 1; x + 1 < width; ++x) {
        const int sum = std::abs(channelResponse<K>(redAbove, red, redBelow, x))
            + std::abs(channelResponse<K>(greenAbove, green, greenBelow, x))
            + std::abs(channelResponse<K>(blueAbove, blue, blueBelow, x));
        out[x] = quint8(sum / responseDivisor);
    }
}

// The magnitude as defined: sqrt(a * a + b * b) in double precision, truncated, saturated at 255.
inline quint8 magnitude(int a, int b)
{
    return quint8(std::min(int(std::sqrt(double(a * a + b * b))), ZTSalienceMap::largestSalience));
}

// out[i] = magnitude(a[i], b[i]). With SSE2 eight at a time through single precision, which
// gives the same bits: n = a * a + b * b <= 130050 is exact as a float, and the root of an
// integer n is either an integer m, exact in both precisions, or lies strictly between m and
// m + 1 no closer to m + 1 than 1 / (2 * (m + 1)) >= 1 / 722, far more than half a float ulp
// (2^-16 below 512), so rounding in either precision never reaches the next integer and both
// truncate to floor(sqrt(n)). The test compares every (a, b) pair with the double formula.
void magnitudes(const quint8* a, const quint8* b, quint8* out, size_t count)
{
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; i + 8 <= count; i += 8) {
        const __m128i a16
            = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(a + i)), zero);
        const __m128i b16
            = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(b + i)), zero);
        const __m128i lowPairs = _mm_unpacklo_epi16(a16, b16); // a0, b0, a1, b1, ...
        const __m128i highPairs = _mm_unpackhi_epi16(a16, b16);
        const __m128i lowRoots
            = _mm_cvttps_epi32(_mm_sqrt_ps(_mm_cvtepi32_ps(_mm_madd_epi16(lowPairs, lowPairs))));
        const __m128i highRoots
            = _mm_cvttps_epi32(_mm_sqrt_ps(_mm_cvtepi32_ps(_mm_madd_epi16(highPairs, highPairs))));
        // Roots are at most 360; the unsigned saturation to a byte is the clamp at 255.
        const __m128i roots = _mm_packs_epi32(lowRoots, highRoots);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(roots, roots));
    }
#endif
    for (; i < count; ++i) {
        out[i] = magnitude(a[i], b[i]);
    }
}

// The colour planes of three consecutive rows of an ARGB32 picture, centred on one row at a
// time from the top down. The rows live in a ring, so moving down one row deinterleaves only the
// new row below.
class PlaneWindow
{
public:
    explicit PlaneWindow(const QImage& source)
        : m_source(source)
        , m_columns(size_t(source.width()))
        , m_planes(9 * m_columns)
    {}

    // Centres the window on row @p y, 1 ... height - 2, at or below the row it was centred on.
    void centreOn(int y)
    {
        for (int row = std::max(y - 1, m_nextRow); row <= y + 1; ++row) {
            deinterleave(row);
        }
        m_nextRow = y + 2;
        for (int channel = 0; channel < 3; ++channel) {
            m_rows[channel] = {plane(channel, y - 1), plane(channel, y), plane(channel, y + 1)};
        }
    }

    // The response of kernel K for x = 1 ... width - 2 of the centre row.
    template<const std::array<int, 9>& K>
    void response(quint8* out) const
    {
        responseRow<K>(m_rows, m_columns, out);
    }

private:
    quint8* plane(int channel, int y)
    {
        return m_planes.data() + size_t((y % 3) * 3 + channel) * m_columns;
    }

    void deinterleave(int y)
    {
        const QRgb* const line = reinterpret_cast<const QRgb*>(m_source.constScanLine(y));
        quint8* const red = plane(0, y);
        quint8* const green = plane(1, y);
        quint8* const blue = plane(2, y);
        for (size_t x = 0; x < m_columns; ++x) {
            red[x] = quint8(line[x] >> 16);
            green[x] = quint8(line[x] >> 8);
            blue[x] = quint8(line[x]);
        }
    }

    const QImage& m_source;
    const size_t m_columns;
    std::vector<quint8> m_planes;
    PlaneRows m_rows[3] = {};
    int m_nextRow = 0;
};

// Fills @p target (@p source's size) as the responses are defined: interior rows get the bytes of
// @p interiorRow(window, values) for x = 1 ... width - 2 as grey with the source's alpha; then the
// outer rows, and after them the outer columns, copy their inner neighbours. A picture less than
// 3 pixels wide or high has no interior: it becomes opaque black.
template<typename InteriorRow>
void fillEdgeMap(const QImage& source, QImage& target, InteriorRow interiorRow)
{
    const int width = target.width();
    const int height = target.height();
    if (width < 3 || height < 3) {
        target.fill(ZTSalienceMap::grey(0));
        return;
    }
    const size_t columns = size_t(width);
    PlaneWindow window(source);
    std::vector<quint8> values(columns);
    for (int y = 1; y < height - 1; ++y) {
        window.centreOn(y);
        interiorRow(window, values.data());
        const QRgb* const alphas = reinterpret_cast<const QRgb*>(source.constScanLine(y));
        QRgb* const line = reinterpret_cast<QRgb*>(target.scanLine(y));
        for (size_t x = 1; x + 1 < columns; ++x) {
            line[x] = greyWithAlpha(alphas[x], values[x]);
        }
    }
    const size_t rowBytes = columns * sizeof(QRgb);
    std::copy_n(target.constScanLine(1), rowBytes, target.scanLine(0));
    std::copy_n(target.constScanLine(height - 2), rowBytes, target.scanLine(height - 1));
    for (int y = 0; y < height; ++y) {
        QRgb* const line = reinterpret_cast<QRgb*>(target.scanLine(y));
        line[0] = line[1];
        line[width - 1] = line[width - 2];
    }
}

// Turns an ARGB32 picture into combine() of its horizontal-edge and vertical-edge convolute(), in
// place (the window holds copies of the rows it reads): per row both responses and their
// magnitude. Magnitudes follow from the responses pixel by pixel, so copying their outer rows and
// columns gives what combining the copied responses gives.
inline void replaceByEdgeMagnitude(QImage& picture)
{
    const size_t columns = size_t(picture.width());
    std::vector<quint8> horizontal(columns);
    std::vector<quint8> vertical(columns);
    fillEdgeMap(picture, picture, [&](const PlaneWindow& window, quint8* out) {
        window.response<horizontalEdgeKernel>(horizontal.data());
        window.response<verticalEdgeKernel>(vertical.data());
        magnitudes(horizontal.data() + 1, vertical.data() + 1, out + 1, columns - 2);
    });
}

// Replaces @p map by ZTMaxFilter(7, 50).evaluate(map), 64 rows at a time with the rows that the
// column arms reach above and below them: a pixel's result depends on nothing further away. A
// band goes back into the map once the next band, which reads some of its rows, is filtered. No
// second full-size map is alive: at 640x480 that saves ~650 page faults per call, as glibc gives
// the memory of two freed maps back to the system at once.
void spreadInPlace(QImage& map)
{
    ZTMaxFilter spread(spreadSize, spreadThreshold);
    const int reach = spreadSize / 2;
    const int height = map.height();
    const size_t rowBytes = size_t(map.width()) * sizeof(QRgb);
    QImage pending; // a filtered band that the next band still reads
    int pendingTop = 0;
    int pendingOffset = 0;
    int pendingRows = 0;
    const auto writeBack = [&] {
        for (int y = 0; y < pendingRows; ++y) {
            std::copy_n(
                pending.constScanLine(pendingOffset + y), rowBytes, map.scanLine(pendingTop + y));
        }
    };
    for (int top = 0; top < height; top += spreadBandRows) {
        const int bottom = std::min(top + spreadBandRows, height);
        const int firstRead = std::max(top - reach, 0);
        const int lastRead = std::min(bottom + reach, height);
        const QImage band(map.constScanLine(firstRead), map.width(), lastRead - firstRead,
            map.bytesPerLine(), map.format());
        QImage filtered = spread.evaluate(band);
        writeBack();
        pending = filtered;
        pendingTop = top;
        pendingOffset = top - firstRead;
        pendingRows = bottom - top;
    }
    writeBack();
}

} // namespace

ZTSobelROI::ZTSobelROI()
{
    configureSobelH();
}

ZTSobelROI::~ZTSobelROI() = default;

void ZTSobelROI::configureSobelH()
{
    m_kernel = horizontalEdgeKernel;
}

void ZTSobelROI::configureSobelV()
{
    m_kernel = verticalEdgeKernel;
}

int ZTSobelROI::totalWeight() const
{
    int total = 0;
    for (const int entry : m_kernel) {
        total += std::abs(entry);
    }
    return total;
}

// Integer 3x3 correlation (the kernel is not flipped) of each colour channel over the interior
// pixels. The sum of the three absolute responses is divided by 3 * totalWeight() / 2, so the
// strongest possible Sobel response, 3 * 4 * 255, maps to exactly 255.
QImage ZTSobelROI::convolute(const QImage& image) const
{
    const QImage source = adjustFormat(image);
    QImage target = createTargetImage(source);
    if (target.isNull()) {
        return target;
    }
    // Only configureSobelH() and configureSobelV() set the kernel.
    Q_ASSERT(m_kernel == horizontalEdgeKernel || m_kernel == verticalEdgeKernel);
    Q_ASSERT((totalWeight() / 2) * 3 == responseDivisor);
    const bool horizontal = m_kernel == horizontalEdgeKernel;
    fillEdgeMap(source, target, [horizontal](const PlaneWindow& window, quint8* out) {
        if (horizontal) {
            window.response<horizontalEdgeKernel>(out);
        } else {
            window.response<verticalEdgeKernel>(out);
        }
    });
    return target;
}

// Magnitude sqrt(a^2 + b^2) of the red channels, truncated; above 255 it saturates, so the
// strongest corners stay the most salient instead of wrapping to their low 8 bits.
QImage ZTSobelROI::combine(const QImage& first, const QImage& second)
{
    const QImage a = ZTSalienceMap::with32BitPixels(first);
    const QImage b = ZTSalienceMap::with32BitPixels(second);
    QImage target(a.size(), a.format());
    const int width = a.width();
    const int height = a.height();
    const int secondWidth = std::min(width, b.width());
    const int secondHeight = std::min(height, b.height());

    const size_t columns = size_t(std::max(width, 0));
    std::vector<quint8> firstReds(columns);
    std::vector<quint8> secondReds(columns, 0); // 0 where the second image has no pixel
    std::vector<quint8> magnitude(columns);
    for (int y = 0; y < height; ++y) {
        const QRgb* const firstLine = reinterpret_cast<const QRgb*>(a.constScanLine(y));
        for (size_t x = 0; x < columns; ++x) {
            firstReds[x] = quint8(ZTSalienceMap::salience(firstLine[x]));
        }
        if (y < secondHeight) {
            const QRgb* const secondLine = reinterpret_cast<const QRgb*>(b.constScanLine(y));
            for (int x = 0; x < secondWidth; ++x) {
                secondReds[size_t(x)] = quint8(ZTSalienceMap::salience(secondLine[x]));
            }
        } else {
            std::fill(secondReds.begin(), secondReds.end(), quint8(0));
        }
        magnitudes(firstReds.data(), secondReds.data(), magnitude.data(), columns);
        QRgb* const line = reinterpret_cast<QRgb*>(target.scanLine(y));
        for (size_t x = 0; x < columns; ++x) {
            line[x] = greyWithAlpha(firstLine[x], magnitude[x]);
        }
    }
    return target;
}

// A subclass that replaces convolute() gets the map of its own responses, through the virtual
// call. For this class itself (combine() is not virtual) both responses and their magnitude are
// computed in one pass over the rows of the blurred picture, in place, with the row functions of
// convolute() and combine(): the same bits without the two full-size responses, which cost a third
// of the instructions and most of the fresh memory pages of a call.
QImage ZTSobelROI::evaluate(const QImage& image)
{
    ZTGaussianBlur blur(blurSize, blurSigma);
    QImage map = adjustFormat(blur.evaluate(image)); // not shared: written in place
    configureSobelH();
    if (typeid(*this) == typeid(ZTSobelROI)) {
        configureSobelV();
        ZTSimd::run([&] { replaceByEdgeMagnitude(map); });
    } else {
        const QImage horizontalEdges = convolute(map);
        configureSobelV();
        map = combine(horizontalEdges, convolute(map));
    }
    spreadInPlace(map);
    return map;
}
