// ZTFaceDetector for a build without OpenCV: it never loads, and so never finds a face.

#include "ZTFaceDetector.h"

struct ZTFaceDetector::Cascades
{};

ZTFaceDetector::ZTFaceDetector() = default;
ZTFaceDetector::~ZTFaceDetector() = default;

bool ZTFaceDetector::isBuiltIn()
{
    return false;
}

QStringList ZTFaceDetector::cascadeFolders()
{
    return {};
}

bool ZTFaceDetector::load()
{
    m_error = QStringLiteral("this build of ztroi has no face detection (it was built without "
                             "OpenCV)");
    return false;
}

QList<QRect> ZTFaceDetector::detect(const QImage&)
{
    return {};
}
