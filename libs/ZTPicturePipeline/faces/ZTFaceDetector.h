#ifndef ZTFACEDETECTOR_H
#define ZTFACEDETECTOR_H

#include <QImage>
#include <QList>
#include <QRect>
#include <QString>
#include <QStringList>

#include <memory>

class ZTFaceCascades;

/**
 * Finds faces in photographs with the Haar cascades of OpenCV's object detection: a frontal one,
 * and a profile one run on the picture and on its mirror image for faces turned either way.
 *
 * Detection runs on a grey copy of the picture reduced so that the smallest face it reports, a
 * tenth of the picture's shorter side, just fills the cascades' window (never larger than
 * 640 pixels on the long side, never enlarged), which keeps its cost nearly independent of
 * the picture's size. Smaller faces are not reported: they are rarely what a crop is about, and
 * they are where cascades find faces in leaves and textures.
 *
 * The detection itself is in a module built on OpenCV when CMake finds it (see ZTFaceCascades),
 * loaded by the first load(); a build without it has isBuiltIn() false, and load() fails with a
 * message that says so. Each object is used by one thread at a time.
 */
class ZTFaceDetector
{
public:
    /** The environment variable that names the folder of the cascade files, if set. */
    static constexpr const char* cascadeFolderVariable = "ZTROI_FACE_CASCADES";

    ZTFaceDetector();
    ~ZTFaceDetector();
    Q_DISABLE_COPY(ZTFaceDetector)

    /** Whether this build of ztroi detects faces at all. */
    static bool isBuiltIn();

    /**
     * The folders searched for the cascade files, in order: only the folder in
     * $ZTROI_FACE_CASCADES when that is set; otherwise the folder that the build found, then the
     * folders where Debian's opencv-data and a default OpenCV installation put them.
     */
    static QStringList cascadeFolders();

    /**
     * Loads the cascades from the first of cascadeFolders() that holds them all. False, with
     * errorString() saying why, when none does or when this build has no face detection.
     */
    bool load();
    QString errorString() const { return m_error; }

    /**
     * The faces in @p picture (any format), as rectangles in its pixels: frontal faces first,
     * then faces in profile that are not one of them. None for a null picture, a picture smaller
     * than the cascades' window, or before load() succeeded.
     */
    QList<QRect> detect(const QImage& picture);

private:
    std::unique_ptr<ZTFaceCascades> m_cascades;
    QString m_error;
};

#endif // ZTFACEDETECTOR_H
