#include "faces/ZTBlazeFaceDetector.h"

#include "faces/ZTBlazeFaceDecoder.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>

namespace {

using Decoder = ZTBlazeFaceDecoder;
constexpr int side = Decoder::inputSide;

// Colours go in as -1 to 1, 0 to 255 mapped linearly, as the network was trained.
constexpr double inputScale = 2.0 / 255.0;
constexpr double inputOffset = -1.0;

// In the whole picture's pass, heads are found reliably from about 13 % of the long side, half
// of that in a lucky place. A picture longer than tileRatio times its short side (4:3, 3:2,
// 16:9, panoramas) is searched again in squares of its short side, which finds them from
// about 13 % of the short side: measured on 3:2 pictures, heads of 7 % of the long side instead
// of 11 %, for two or three more passes of about 20 ms each.
constexpr double tileRatio = 1.3;

// The pixels of @p region of @p picture, shared, not copied: a tile of a 12-megapixel photograph
// would otherwise cost more to copy than the network takes to look at it.
QImage regionOf(const QImage& picture, const QRect& region)
{
    if (region == picture.rect()) {
        return picture;
    }
    const int bytesPerPixel = picture.depth() / 8;
    if (bytesPerPixel < 1 || picture.depth() % 8 != 0) {
        return picture.copy(region); // 1-bit pixels cannot be addressed by bytes
    }
    const uchar* const first
        = picture.constScanLine(region.y()) + qsizetype(region.x()) * bytesPerPixel;
    QImage view(first, region.width(), region.height(), picture.bytesPerLine(), picture.format());
    view.setColorTable(picture.colorTable());
    return view;
}

// A picture larger than twice the network's input is first thinned out to that, which costs
// a fraction of averaging all its pixels; the area average from there keeps the detail.
QImage reducedRgb(const QImage& picture, const QRect& region, const QSize& fitted)
{
    QImage part = regionOf(picture, region);
    if (part.width() > 2 * fitted.width() && part.height() > 2 * fitted.height()) {
        part = part.scaled(2 * fitted, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    }
    return part.convertToFormat(QImage::Format_RGB888);
}

// The network's input for @p region of @p picture: the region scaled to fit the square,
// centred on black, as a 1 x side x side x 3 float tensor. *scale and *offset map input
// pixels back to the region's.
cv::Mat networkInput(const QImage& picture, const QRect& region, double* scale, QPointF* offset)
{
    const QSize fitted = region.size().scaled(side, side, Qt::KeepAspectRatio).expandedTo({1, 1});
    const QImage rgb = reducedRgb(picture, region, fitted);
    const cv::Mat wrapped(rgb.height(), rgb.width(), CV_8UC3, const_cast<uchar*>(rgb.constBits()),
        size_t(rgb.bytesPerLine()));
    cv::Mat square(side, side, CV_8UC3, cv::Scalar::all(0));
    const int left = (side - fitted.width()) / 2;
    const int top = (side - fitted.height()) / 2;
    cv::resize(wrapped, square(cv::Rect(left, top, fitted.width(), fitted.height())),
        cv::Size(fitted.width(), fitted.height()), 0, 0, cv::INTER_AREA);
    *scale = double(fitted.width()) / region.width();
    *offset = QPointF(left, top);

    const int shape[] = {1, side, side, 3};
    cv::Mat tensor(4, shape, CV_32F);
    cv::Mat asImage(side, side, CV_32FC3, tensor.ptr<float>());
    square.convertTo(asImage, CV_32FC3, inputScale, inputOffset);
    return tensor;
}

// The squares searched besides the whole picture: none for a picture close to square, else
// squares of the short side from one end of the long side to the other, overlapping by at
// least a third so that a face on a border is whole in one of them.
QList<QRect> tiles(const QSize& size)
{
    const int shorter = std::min(size.width(), size.height());
    const int longer = std::max(size.width(), size.height());
    if (shorter < 1 || longer < tileRatio * shorter) {
        return {};
    }
    const int count = int(std::ceil((longer - shorter) / (shorter * 2.0 / 3.0))) + 1;
    QList<QRect> squares;
    for (int i = 0; i < count; ++i) {
        const int start = int(qint64(longer - shorter) * i / (count - 1));
        squares.append(size.width() >= size.height() ? QRect(start, 0, shorter, shorter)
                                                     : QRect(0, start, shorter, shorter));
    }
    return squares;
}

} // namespace

bool ZTBlazeFaceDetector::load(const char* model)
{
    // As for the cascades: one picture per thread already, so OpenCV starts no threads of its own.
    static std::once_flag singleThreaded;
    std::call_once(singleThreaded, [] { cv::setNumThreads(1); });
    try {
        m_net = cv::dnn::readNetFromONNX(model);
        m_outputs = m_net.getUnconnectedOutLayersNames();
        // A blank picture through the network checks that it is the one decoded here.
        const int shape[] = {1, side, side, 3};
        std::vector<float> scores;
        std::vector<float> boxes;
        return !m_net.empty()
            && run(cv::Mat(4, shape, CV_32F, cv::Scalar::all(0)), &scores, &boxes);
    } catch (const cv::Exception&) {
        return false; // a damaged file, reported like a missing one
    }
}

// The scores and boxes of every anchor, in anchor order, from the four outputs (scores and
// boxes of each grid); false when the outputs do not have their shapes.
bool ZTBlazeFaceDetector::run(
    const cv::Mat& input, std::vector<float>* scores, std::vector<float>* boxes)
{
    m_net.setInput(input);
    std::vector<cv::Mat> outputs;
    m_net.forward(outputs, m_outputs);
    scores->assign(Decoder::anchorCount, 0.0F);
    boxes->assign(size_t(Decoder::anchorCount) * Decoder::boxValues, 0.0F);
    int found = 0;
    for (const cv::Mat& output : outputs) {
        if (output.dims != 3 || output.size[0] != 1 || output.type() != CV_32F
            || !output.isContinuous()) {
            return false;
        }
        const int anchors = output.size[1];
        const int values = output.size[2];
        const int first = anchors == Decoder::fineAnchorCount ? 0
            : anchors == Decoder::coarseAnchorCount           ? Decoder::fineAnchorCount
                                                              : -1;
        if (first < 0 || (values != 1 && values != Decoder::boxValues)) {
            return false;
        }
        float* const target = values == 1 ? scores->data() + first
                                          : boxes->data() + size_t(first) * Decoder::boxValues;
        std::copy_n(output.ptr<float>(), size_t(anchors) * values, target);
        found |= (values == 1 ? 1 : 2) << (first == 0 ? 0 : 2);
    }
    return found == 0xF;
}

QList<QRect> ZTBlazeFaceDetector::detectIn(const QImage& picture, const QRect& region)
{
    double scale = 1;
    QPointF offset;
    const cv::Mat input = networkInput(picture, region, &scale, &offset);
    std::vector<float> scores;
    std::vector<float> boxes;
    if (!run(input, &scores, &boxes)) {
        return {};
    }
    QList<QRect> faces;
    const auto found = Decoder::suppress(
        Decoder::decode(scores.data(), boxes.data(), minScore), sameFaceOverlap);
    for (const Decoder::Detection& face : found) {
        const QRectF box = face.box.translated(-offset);
        const QRectF inRegion(box.topLeft() / scale, box.size() / scale);
        faces.append(inRegion.translated(region.topLeft()).toAlignedRect().intersected(region));
    }
    return faces;
}

QList<QRect> ZTBlazeFaceDetector::detect(const QImage& picture)
{
    if (picture.isNull()) {
        return {};
    }
    QList<QRect> faces = detectIn(picture, picture.rect());
    // A face found again in a tile is kept once: as the whole picture's pass found it, or as
    // the first tile did.
    for (const QRect& tile : tiles(picture.size())) {
        for (const QRect& face : detectIn(picture, tile)) {
            const bool known = std::any_of(faces.cbegin(), faces.cend(),
                [&face](const QRect& f) { return Decoder::overlap(f, face) > sameFaceOverlap; });
            if (!known) {
                faces.append(face);
            }
        }
    }
    return faces;
}

extern "C" Q_DECL_EXPORT ZTFaceCascades* ztroiCreateBlazeFace(const char* model)
{
    auto detector = std::make_unique<ZTBlazeFaceDetector>();
    return detector->load(model) ? detector.release() : nullptr;
}
