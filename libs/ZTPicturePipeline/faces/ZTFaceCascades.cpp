// ztroi-faces.so: face detection with OpenCV's Haar cascades, loaded by ZTFaceDetector.

#include "faces/ZTFaceCascades.h"

#include <ZTMapGeometry.h>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect.hpp>

#include <algorithm>
#include <memory>
#include <mutex>
#include <vector>

namespace {

// Both cascades look at windows of 20 x 20 pixels.
constexpr int cascadeWindow = 20;
// The smallest face reported, as a share of the picture's shorter side; a face in profile must
// be larger: the profile cascade costs about three times the frontal one for each size it tries,
// and is searched twice (the picture and its mirror image).
constexpr double minFaceShare = 0.1;
constexpr double minProfileShare = 0.15;
constexpr int maxDetectionSide = 640;
// Steps between the window sizes tried, and how many overlapping hits make a face: tuned on
// photographs with and without people for few false faces at this cost.
constexpr double scaleStep = 1.2;
constexpr int frontalNeighbours = 4;
constexpr int profileNeighbours = 5;
// A second hit whose overlap covers this share of the smaller box is the same face.
constexpr double sameFaceOverlap = 0.3;

// The size that the picture is reduced to: the smallest face to report becomes the cascades'
// window, within maxDetectionSide, never larger than the picture.
QSize detectionSize(const QSize& picture)
{
    const double shorter = std::min(picture.width(), picture.height());
    const double scale = std::min(
        {cascadeWindow / (minFaceShare * shorter), double(maxDetectionSide) / picture.width(),
            double(maxDetectionSide) / picture.height(), 1.0});
    return QSize(
        std::max(1, int(picture.width() * scale)), std::max(1, int(picture.height() * scale)));
}

// Grey as qGray() weighs it, alpha ignored. Qt 6's own conversion to Format_Grayscale8 weighs
// the channels differently from Qt 5's, which would make the faces found depend on the Qt version.
QImage greyPicture(const QImage& picture)
{
    if (picture.format() == QImage::Format_Grayscale8) {
        return picture;
    }
    const QImage words
        = picture.format() == QImage::Format_ARGB32 || picture.format() == QImage::Format_RGB32
        ? picture
        : picture.convertToFormat(QImage::Format_ARGB32);
    QImage grey(words.size(), QImage::Format_Grayscale8);
    if (grey.isNull()) {
        return grey;
    }
    for (int y = 0; y < words.height(); ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(words.constScanLine(y));
        uchar* out = grey.scanLine(y);
        for (int x = 0; x < words.width(); ++x) {
            out[x] = uchar(qGray(line[x]));
        }
    }
    return grey;
}

// A grey, contrast-equalised copy of @p picture at @p size. A large picture is first thinned out
// to twice that size, which costs a fraction of averaging all its pixels; the area average from
// there keeps the edges that the cascades look for.
cv::Mat detectionPicture(const QImage& picture, const QSize& size)
{
    QImage source = picture;
    if (source.width() > 2 * size.width() && source.height() > 2 * size.height()) {
        source = source.scaled(2 * size, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    }
    const QImage grey = greyPicture(source);
    const cv::Mat wrapped(grey.height(), grey.width(), CV_8UC1,
        const_cast<uchar*>(grey.constBits()), size_t(grey.bytesPerLine()));
    cv::Mat reduced;
    cv::resize(wrapped, reduced, cv::Size(size.width(), size.height()), 0, 0, cv::INTER_AREA);
    cv::equalizeHist(reduced, reduced);
    return reduced;
}

bool sameFace(const cv::Rect& a, const cv::Rect& b)
{
    const double overlap = (a & b).area();
    return overlap >= sameFaceOverlap * std::min(a.area(), b.area());
}

// Adds the hits of @p more that are no face found already (a cascade may report a face and a
// part of it).
void addNewFaces(std::vector<cv::Rect>& faces, const std::vector<cv::Rect>& more)
{
    for (const cv::Rect& face : more) {
        if (std::none_of(faces.cbegin(), faces.cend(),
                [&face](const cv::Rect& known) { return sameFace(known, face); })) {
            faces.push_back(face);
        }
    }
}

// The frontal cascade, and the profile one run on the picture and on its mirror image for faces
// turned either way.
class HaarCascades final : public ZTFaceCascades
{
public:
    bool load(const char* frontal, const char* profile)
    {
        // OpenCV would spread each search over threads of its own; ztroi analyses one picture
        // per thread already (--jobs), so every search stays on the thread that asks for it.
        // The setting is global: made once, not while other threads search.
        static std::once_flag singleThreaded;
        std::call_once(singleThreaded, [] { cv::setNumThreads(1); });
        try {
            return m_frontal.load(frontal) && m_profile.load(profile);
        } catch (const cv::Exception&) {
            return false; // a damaged file, reported like a missing one
        }
    }

    QList<QRect> detect(const QImage& picture) override;

private:
    cv::CascadeClassifier m_frontal;
    cv::CascadeClassifier m_profile;
};

QList<QRect> HaarCascades::detect(const QImage& picture)
{
    const QSize size = detectionSize(picture.size());
    if (picture.isNull() || size.width() < cascadeWindow || size.height() < cascadeWindow) {
        return {};
    }
    const cv::Mat grey = detectionPicture(picture, size);
    const int shorter = std::min(size.width(), size.height());
    const int minSide = std::max(cascadeWindow, int(minFaceShare * shorter));
    const int minProfileSide = std::max(cascadeWindow, int(minProfileShare * shorter));
    const cv::Size minFace(minSide, minSide);
    const cv::Size minProfile(minProfileSide, minProfileSide);

    std::vector<cv::Rect> frontal;
    m_frontal.detectMultiScale(grey, frontal, scaleStep, frontalNeighbours, 0, minFace);
    std::vector<cv::Rect> faces;
    addNewFaces(faces, frontal);
    std::vector<cv::Rect> profiles;
    m_profile.detectMultiScale(grey, profiles, scaleStep, profileNeighbours, 0, minProfile);
    addNewFaces(faces, profiles);
    // The profile cascade knows faces turned one way; the mirror image shows the others.
    cv::Mat mirrored;
    cv::flip(grey, mirrored, 1);
    m_profile.detectMultiScale(mirrored, profiles, scaleStep, profileNeighbours, 0, minProfile);
    for (cv::Rect& face : profiles) {
        face.x = grey.cols - face.x - face.width;
    }
    addNewFaces(faces, profiles);

    const ZTMapGeometry toPicture(picture.size(), size);
    QList<QRect> found;
    for (const cv::Rect& face : faces) {
        found.append(toPicture.toInput(QRect(face.x, face.y, face.width, face.height)));
    }
    return found;
}

} // namespace

extern "C" Q_DECL_EXPORT ZTFaceCascades* ztroiCreateFaceCascades(
    const char* frontal, const char* profile)
{
    auto cascades = std::make_unique<HaarCascades>();
    return cascades->load(frontal, profile) ? cascades.release() : nullptr;
}
