#ifndef ZTBLAZEFACEDECODER_H
#define ZTBLAZEFACEDECODER_H

#include <QList>
#include <QPointF>
#include <QRectF>
#include <QVector>

/**
 * Turns the two output tensors of the BlazeFace "back" face detection network (256 x 256 input)
 * into faces: the anchors that its boxes are relative to, the decoding of scores and boxes, and
 * the weighted non-maximum suppression that merges the many hits on one face.
 *
 * The network predicts one box per anchor. Its anchors lie on two grids over the input: every
 * cell of a 16 x 16 grid (stride 16) holds 2 anchors, every cell of an 8 x 8 grid (stride 32)
 * holds 6, for 896 anchors in that order, row by row. All anchors of a cell share its centre
 * and have the size of the whole input, so a box is its cell's centre moved by the predicted
 * offset, with the predicted size; offsets and sizes are in input pixels.
 *
 * Everything here is plain arithmetic on float arrays, so that it can be checked without OpenCV.
 */
class ZTBlazeFaceDecoder
{
public:
    /** The side of the square input picture, in pixels. */
    static constexpr int inputSide = 256;
    /** Anchors on the 16 x 16 grid, then on the 8 x 8 grid. */
    static constexpr int fineAnchorCount = 16 * 16 * 2;
    static constexpr int coarseAnchorCount = 8 * 8 * 6;
    static constexpr int anchorCount = fineAnchorCount + coarseAnchorCount;
    /** Values per anchor in the box tensor: centre x, y, width, height, 6 key points (x, y). */
    static constexpr int boxValues = 16;

    /** One face: its box in input pixels (0 to inputSide) and its probability (0 to 1). */
    struct Detection
    {
        QRectF box;
        float score = 0;
    };

    /** The anchors' centres in input pixels, in the network's order (anchorCount of them). */
    static QVector<QPointF> anchorCentres();

    /**
     * The anchors whose probability reaches @p minScore, decoded. @p scores holds anchorCount
     * logits, @p boxes anchorCount * boxValues values, both in anchor order. A logit that is
     * not a number is dropped; a box that is not finite or not positive in size is dropped.
     */
    static QList<Detection> decode(const float* scores, const float* boxes, float minScore);

    /**
     * Weighted non-maximum suppression: the best remaining detection and every other one that
     * overlaps it by more than @p maxOverlap (intersection over union) become one face, whose
     * box is their score-weighted mean and whose score is the best one's. Best faces first.
     */
    static QList<Detection> suppress(QList<Detection> detections, double maxOverlap);

    /** Intersection over union of two boxes; 0 when either is empty. */
    static double overlap(const QRectF& a, const QRectF& b);
};

#endif // ZTBLAZEFACEDECODER_H
