#ifndef ZTFACECASCADES_H
#define ZTFACECASCADES_H

#include <QImage>
#include <QList>
#include <QRect>

/**
 * The part of face detection that needs OpenCV: the Haar cascades, and the BlazeFace network
 * where the module was built with OpenCV's dnn. It is built as a module of its own
 * (ztroi-faces.so) that ZTFaceDetector loads only when faces are asked for: OpenCV and the
 * libraries it needs take longer to load than ztroi takes to analyse a photograph, so a run
 * without --faces must not load them.
 */
class ZTFaceCascades
{
public:
    virtual ~ZTFaceCascades() = default;

    /** The faces in @p picture (any format), as rectangles in its pixels. */
    virtual QList<QRect> detect(const QImage& picture) = 0;
};

/**
 * The one symbol of the module: cascades read from the files at @p frontal and @p profile (local
 * 8-bit paths), owned by the caller; null when either cannot be read.
 */
using ZTCreateFaceCascades = ZTFaceCascades* (*)(const char* frontal, const char* profile);
constexpr const char* createFaceCascadesSymbol = "ztroiCreateFaceCascades";

/**
 * The module's BlazeFace detector, where it was built with OpenCV's dnn: the network read from
 * the ONNX file at @p model (a local 8-bit path), owned by the caller; null when the file cannot
 * be read or holds another network.
 */
using ZTCreateBlazeFace = ZTFaceCascades* (*)(const char* model);
constexpr const char* createBlazeFaceSymbol = "ztroiCreateBlazeFace";

#endif // ZTFACECASCADES_H
