#ifndef ZTBLAZEFACEDETECTOR_H
#define ZTBLAZEFACEDETECTOR_H

#include "faces/ZTFaceCascades.h"

#include <opencv2/dnn.hpp>

/**
 * Finds faces with the BlazeFace "back" network (256 x 256 input, as ONNX) in OpenCV's dnn
 * module. Part of the face detection module; ZTFaceDetector creates it through the module's
 * ztroiCreateBlazeFace symbol.
 *
 * The picture is scaled to fit the network's square input, centred on black, with its colours
 * as RGB in -1 to 1; a wide or tall picture is also searched in square tiles along its long
 * side (see detect()). Faces need a probability of minScore, and the hits on one face are
 * merged by ZTBlazeFaceDecoder::suppress().
 */
class ZTBlazeFaceDetector final : public ZTFaceCascades
{
public:
    /**
     * The least probability of a reported face. Measured on the photographs of eval/: faces of
     * people score 0.77 to 0.89, a cat's face 0.71, the one false face (a flower) 0.68.
     */
    static constexpr float minScore = 0.7F;
    /** Hits that overlap by more than this (intersection over union) are the same face. */
    static constexpr double sameFaceOverlap = 0.3;

    /**
     * Reads the network from the ONNX file at @p model (a local 8-bit path) and checks that
     * it has the inputs and outputs of the BlazeFace back model. False when it cannot be read
     * or is another network.
     */
    bool load(const char* model);

    QList<QRect> detect(const QImage& picture) override;

private:
    QList<QRect> detectIn(const QImage& picture, const QRect& region);
    bool run(const cv::Mat& input, std::vector<float>* scores, std::vector<float>* boxes);

    cv::dnn::Net m_net;
    std::vector<cv::String> m_outputs;
};

#endif // ZTBLAZEFACEDETECTOR_H
