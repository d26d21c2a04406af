#include "faces/ZTFaceDetector.h"

#include "faces/ZTFaceCascades.h"

#include <ZTRegionOfInterestVersion.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <dlfcn.h>

namespace {

const char* const frontalCascade = "haarcascade_frontalface_alt2.xml";
const char* const profileCascade = "haarcascade_profileface.xml";

#ifdef ZTROI_FACE_MODULE
// The module lies in a folder beside the library, in the build tree and installed alike
// (LIBDIR/ztroi/ztroi-faces.so), so it is found from the library's own location whatever the
// prefix, for ztroi and for the Python module.
QString modulePath()
{
    Dl_info info {};
    if (dladdr(reinterpret_cast<void*>(&ztRegionOfInterestVersion), &info) == 0
        || !info.dli_fname) {
        return QString();
    }
    return QFileInfo(QFile::decodeName(info.dli_fname))
        .dir()
        .filePath(QStringLiteral(ZTROI_FACE_MODULE));
}

// Loaded once, on the first use, and kept: OpenCV is not made to be unloaded.
ZTCreateFaceCascades moduleFactory(QString* error)
{
    static const QString path = modulePath();
    static void* const handle
        = path.isEmpty() ? nullptr : dlopen(QFile::encodeName(path).constData(), RTLD_NOW);
    static const QString loadError = handle ? QString() : QString::fromLocal8Bit(dlerror());
    if (!handle) {
        *error = QStringLiteral("cannot load the face detection module %1 (%2)")
                     .arg(path.isEmpty() ? QStringLiteral(ZTROI_FACE_MODULE) : path, loadError);
        return nullptr;
    }
    const auto create
        = reinterpret_cast<ZTCreateFaceCascades>(dlsym(handle, createFaceCascadesSymbol));
    if (!create) {
        *error = QStringLiteral("the face detection module %1 has no %2 (a module of another "
                                "version of ztroi?)")
                     .arg(path, QLatin1String(createFaceCascadesSymbol));
    }
    return create;
}
#endif

} // namespace

ZTFaceDetector::ZTFaceDetector() = default;
ZTFaceDetector::~ZTFaceDetector() = default;

bool ZTFaceDetector::isBuiltIn()
{
#ifdef ZTROI_FACE_MODULE
    return true;
#else
    return false;
#endif
}

QStringList ZTFaceDetector::cascadeFolders()
{
    const QString named = qEnvironmentVariable(cascadeFolderVariable);
    if (!named.isEmpty()) {
        return {named};
    }
    QStringList folders;
#ifdef ZTROI_FACE_CASCADE_DIR
    folders.append(QStringLiteral(ZTROI_FACE_CASCADE_DIR));
#endif
    for (const char* folder : {"/usr/share/opencv4/haarcascades",
             "/usr/local/share/opencv4/haarcascades", "/usr/share/opencv/haarcascades"}) {
        if (!folders.contains(QLatin1String(folder))) {
            folders.append(QString::fromLatin1(folder));
        }
    }
    return folders;
}

bool ZTFaceDetector::load()
{
#ifdef ZTROI_FACE_MODULE
    const ZTCreateFaceCascades create = moduleFactory(&m_error);
    if (!create) {
        return false;
    }
    const QStringList folders = cascadeFolders();
    for (const QString& folder : folders) {
        const QDir dir(folder);
        const QString frontal = dir.filePath(QString::fromLatin1(frontalCascade));
        const QString profile = dir.filePath(QString::fromLatin1(profileCascade));
        if (!QFileInfo::exists(frontal) || !QFileInfo::exists(profile)) {
            continue;
        }
        // OpenCV opens what it is given and reads it to its end: a FIFO there would block the
        // run for good, a device fill memory.
        if (!QFileInfo(frontal).isFile() || !QFileInfo(profile).isFile()) {
            m_error = QStringLiteral("cannot read the face cascades in %1 (not regular files)")
                          .arg(folder);
            return false;
        }
        m_cascades.reset(
            create(QFile::encodeName(frontal).constData(), QFile::encodeName(profile).constData()));
        if (!m_cascades) {
            m_error = QStringLiteral("cannot read the face cascades in %1").arg(folder);
            return false;
        }
        m_error.clear();
        return true;
    }
    m_error = QStringLiteral("no face cascades (%1, %2) in %3; install opencv-data or name their "
                             "folder in %4")
                  .arg(QLatin1String(frontalCascade), QLatin1String(profileCascade),
                      folders.join(QLatin1String(", ")), QLatin1String(cascadeFolderVariable));
#else
    m_error = QStringLiteral("this build of ztroi has no face detection (it was built without "
                             "OpenCV)");
#endif
    return false;
}

QList<QRect> ZTFaceDetector::detect(const QImage& picture)
{
    return m_cascades ? m_cascades->detect(picture) : QList<QRect>();
}
