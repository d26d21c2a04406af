#include "faces/ZTBlazeFaceDecoder.h"

#include <algorithm>
#include <cmath>

namespace {

struct Grid
{
    int cells; // per side
    int anchorsPerCell;
};
constexpr Grid grids[] = {{16, 2}, {8, 6}};

// Logits are clipped before the logistic function, as the network's own post-processing does,
// which keeps exp() finite.
constexpr float logitClip = 100.0F;

float probability(float logit)
{
    const float clipped = std::clamp(logit, -logitClip, logitClip);
    return 1.0F / (1.0F + std::exp(-clipped));
}

} // namespace

QVector<QPointF> ZTBlazeFaceDecoder::anchorCentres()
{
    QVector<QPointF> centres;
    centres.reserve(anchorCount);
    for (const Grid& grid : grids) {
        const double cell = double(inputSide) / grid.cells;
        for (int y = 0; y < grid.cells; ++y) {
            for (int x = 0; x < grid.cells; ++x) {
                const QPointF centre((x + 0.5) * cell, (y + 0.5) * cell);
                for (int i = 0; i < grid.anchorsPerCell; ++i) {
                    centres.append(centre);
                }
            }
        }
    }
    return centres;
}

QList<ZTBlazeFaceDecoder::Detection> ZTBlazeFaceDecoder::decode(
    const float* scores, const float* boxes, float minScore)
{
    static const QVector<QPointF> anchors = anchorCentres();
    QList<Detection> detections;
    for (int i = 0; i < anchorCount; ++i) {
        // A logit that is no number is no face, whatever the least score.
        if (std::isnan(scores[i])) {
            continue;
        }
        const float score = probability(scores[i]);
        if (score < minScore) {
            continue;
        }
        const float* const box = boxes + qsizetype(i) * boxValues;
        const double width = box[2];
        const double height = box[3];
        const double x = anchors.at(i).x() + box[0] - width / 2;
        const double y = anchors.at(i).y() + box[1] - height / 2;
        if (!std::isfinite(x) || !std::isfinite(y) || !(width > 0) || !(height > 0)
            || !std::isfinite(width) || !std::isfinite(height)) {
            continue;
        }
        detections.append({QRectF(x, y, width, height), score});
    }
    return detections;
}

double ZTBlazeFaceDecoder::overlap(const QRectF& a, const QRectF& b)
{
    const QRectF common = a.intersected(b);
    if (common.isEmpty()) {
        return 0.0;
    }
    const double shared = common.width() * common.height();
    return shared / (a.width() * a.height() + b.width() * b.height() - shared);
}

QList<ZTBlazeFaceDecoder::Detection> ZTBlazeFaceDecoder::suppress(
    QList<Detection> detections, double maxOverlap)
{
    // Ties keep the network's order, so that the result does not depend on the sort.
    std::stable_sort(detections.begin(), detections.end(),
        [](const Detection& a, const Detection& b) { return a.score > b.score; });
    QList<Detection> faces;
    while (!detections.isEmpty()) {
        const Detection best = detections.first();
        QList<Detection> rest;
        double weight = 0;
        double left = 0;
        double top = 0;
        double right = 0;
        double bottom = 0;
        for (const Detection& detection : detections) {
            if (overlap(best.box, detection.box) > maxOverlap
                || &detection == &detections.first()) {
                weight += detection.score;
                left += detection.score * detection.box.left();
                top += detection.score * detection.box.top();
                right += detection.score * (detection.box.x() + detection.box.width());
                bottom += detection.score * (detection.box.y() + detection.box.height());
            } else {
                rest.append(detection);
            }
        }
        // Scores that round to 0 carry no weight; the best box then stands for them all.
        faces.append({weight > 0 ? QRectF(QPointF(left / weight, top / weight),
                          QPointF(right / weight, bottom / weight))
                                 : best.box,
            best.score});
        detections = rest;
    }
    return faces;
}
