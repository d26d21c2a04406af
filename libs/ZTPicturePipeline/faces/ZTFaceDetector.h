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
 * Finds faces in photographs: with the BlazeFace network in OpenCV's dnn where its model file
 * is installed (see modelFiles()), else with the Haar cascades of OpenCV's object detection: a
 * frontal one, and a profile one run on the picture and on its mirror image for faces turned
 * either way.
 *
 * The network sees the picture reduced to 256 x 256 (and, for a long picture, squares along
 * it), and finds faces from about a twelfth of that side, turned up to about 45 degrees, and
 * animals' faces too. Its boxes are tighter than the cascades': from the brows to the chin.
 *
 * The cascades' detection runs on a grey copy of the picture reduced so that the smallest face it
 * reports, a tenth of the picture's shorter side, just fills the cascades' window (never larger
 * than 640 pixels on the long side, never enlarged), which keeps its cost nearly independent of the
 * picture's size. Smaller faces are not reported: they are rarely what a crop is about, and they
 * are where cascades find faces in leaves and textures.
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
    /** The environment variable that names the network's model file, if set. */
    static constexpr const char* modelVariable = "ZTROI_FACE_MODEL";

    /** Which detectors load() may choose. */
    enum class Choice {
        BlazeFaceOnly,       ///< the network, or none (faces found by default)
        BlazeFaceOrCascades, ///< the network, else the cascades (faces asked for)
    };

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
     * The model files of the network searched, in order: only $ZTROI_FACE_MODEL when that is
     * set (none when it is empty); otherwise the file that an installation puts beside the
     * face detection module's data (scripts/fetch-face-model fetches it).
     */
    static QStringList modelFiles();

    /** The first of modelFiles() that is a regular file; empty when none is. */
    static QString modelFile();

    /**
     * Loads the network from modelFile(), or, where @p choice allows and the network cannot be
     * used, the cascades from the first of cascadeFolders() that holds them all. False, with
     * errorString() saying why, when neither loads or when this build has no face detection.
     * When the cascades stand in for the network, fallbackNote() says why.
     */
    bool load(Choice choice = Choice::BlazeFaceOrCascades);
    QString errorString() const { return m_error; }
    QString fallbackNote() const { return m_fallbackNote; }

    /** The detector that load() loaded: "blazeface" or "cascades"; empty before. */
    QString name() const { return m_name; }

    /**
     * The faces in @p picture (any format), as rectangles in its pixels. The network's come
     * best first; the cascades' frontal faces first, then faces in profile that are not one of
     * them. None for a null picture, a picture smaller than the cascades' window, or before
     * load() succeeded.
     */
    QList<QRect> detect(const QImage& picture);

    /**
     * The head around a face that the loaded detector found: its box with the hair above, the
     * ears beside it and the chin below, which the detectors' boxes leave out in different
     * measure. Not clipped to the picture.
     */
    static QRect headAround(const QRect& face, const QString& detector);

private:
    bool loadBlazeFace();
    bool loadCascades();

    std::unique_ptr<ZTFaceCascades> m_cascades;
    QString m_error;
    QString m_fallbackNote;
    QString m_name;
};

#endif // ZTFACEDETECTOR_H
