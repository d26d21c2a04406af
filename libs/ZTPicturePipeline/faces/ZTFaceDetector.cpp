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
// The folder of the library, from which the module and the model are found whatever the
// prefix, in the build tree and installed alike, for ztroi and for the Python module.
// Empty when it cannot be told.
QString libraryFolder()
{
    Dl_info info {};
    if (dladdr(reinterpret_cast<void*>(&ztRegionOfInterestVersion), &info) == 0
        || !info.dli_fname) {
        return QString();
    }
    return QFileInfo(QFile::decodeName(info.dli_fname)).absolutePath();
}

// @p path from the library's folder; empty when that cannot be told.
QString besideLibrary(const QString& path)
{
    const QString folder = libraryFolder();
    return folder.isEmpty() ? QString() : QDir::cleanPath(QDir(folder).filePath(path));
}

// The module lies in a folder beside the library (LIBDIR/ztroi/ztroi-faces.so).
QString modulePath()
{
    return besideLibrary(QStringLiteral(ZTROI_FACE_MODULE));
}

// Loaded once, on the first use, and kept: OpenCV is not made to be unloaded.
void* moduleHandle(QString* error)
{
    static const QString path = modulePath();
    static void* const handle
        = path.isEmpty() ? nullptr : dlopen(QFile::encodeName(path).constData(), RTLD_NOW);
    static const QString loadError = handle ? QString() : QString::fromLocal8Bit(dlerror());
    if (!handle) {
        *error = QStringLiteral("cannot load the face detection module %1 (%2)")
                     .arg(path.isEmpty() ? QStringLiteral(ZTROI_FACE_MODULE) : path, loadError);
    }
    return handle;
}

ZTCreateFaceCascades moduleFactory(QString* error)
{
    void* const handle = moduleHandle(error);
    if (!handle) {
        return nullptr;
    }
    const auto create
        = reinterpret_cast<ZTCreateFaceCascades>(dlsym(handle, createFaceCascadesSymbol));
    if (!create) {
        *error = QStringLiteral("the face detection module %1 has no %2 (a module of another "
                                "version of ztroi?)")
                     .arg(modulePath(), QLatin1String(createFaceCascadesSymbol));
    }
    return create;
}

// The module has the network only where it was built with OpenCV's dnn.
ZTCreateBlazeFace blazeFaceFactory(QString* error)
{
    void* const handle = moduleHandle(error);
    if (!handle) {
        return nullptr;
    }
    const auto create = reinterpret_cast<ZTCreateBlazeFace>(dlsym(handle, createBlazeFaceSymbol));
    if (!create) {
        *error = QStringLiteral("the face detection module was built without OpenCV's dnn");
    }
    return create;
}
#endif

// The head around a face box, as shares of the box's width (each side) and height (above and
// below). The cascades' boxes reach from the brows to below the mouth. The network's, measured
// on portraits and a face in profile, reach from the brows to the chin or below it; the hair
// rises 0.55 to 0.8 of the box above it and reaches up to a third of its width behind it.
struct HeadMargins
{
    double side;
    double above;
    double below;
};
constexpr HeadMargins cascadeHead {0.25, 0.5, 0.25};
constexpr HeadMargins blazeFaceHead {0.25, 0.7, 0.05};

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

QStringList ZTFaceDetector::modelFiles()
{
    if (qEnvironmentVariableIsSet(modelVariable)) {
        const QString named = qEnvironmentVariable(modelVariable);
        return named.isEmpty() ? QStringList() : QStringList {named};
    }
#if defined(ZTROI_FACE_MODULE) && defined(ZTROI_FACE_MODEL_FROM_LIBRARY)
    // Where an installation put it, found from the library, so that a package installed
    // under another prefix than the build's finds it too.
    const QString installed = besideLibrary(QStringLiteral(ZTROI_FACE_MODEL_FROM_LIBRARY));
    return installed.isEmpty() ? QStringList() : QStringList {installed};
#else
    return {};
#endif
}

QString ZTFaceDetector::modelFile()
{
    const QStringList files = modelFiles();
    for (const QString& file : files) {
        // OpenCV reads what it is given to its end: not a FIFO or a device.
        if (QFileInfo(file).isFile()) {
            return file;
        }
    }
    return QString();
}

bool ZTFaceDetector::load(Choice choice)
{
    m_name.clear();
    m_fallbackNote.clear();
    if (loadBlazeFace()) {
        return true;
    }
    if (choice == Choice::BlazeFaceOnly) {
        return false;
    }
    m_fallbackNote = m_error;
    return loadCascades();
}

bool ZTFaceDetector::loadBlazeFace()
{
#ifdef ZTROI_FACE_MODULE
    const QString model = modelFile();
    if (model.isEmpty()) {
        // Checked before the module is loaded: a run without the model loads no OpenCV.
        const QStringList files = modelFiles();
        m_error = files.isEmpty()
            ? QStringLiteral("no face detection model named (%1 is empty)")
                  .arg(QLatin1String(modelVariable))
            : QStringLiteral("no face detection model at %1; scripts/fetch-face-model installs it")
                  .arg(files.join(QLatin1String(", ")));
        return false;
    }
    const ZTCreateBlazeFace create = blazeFaceFactory(&m_error);
    if (!create) {
        return false;
    }
    m_cascades.reset(create(QFile::encodeName(model).constData()));
    if (!m_cascades) {
        m_error = QStringLiteral("cannot read the face detection model %1").arg(model);
        return false;
    }
    m_error.clear();
    m_name = QStringLiteral("blazeface");
    return true;
#else
    m_error = QStringLiteral("this build of ztroi has no face detection (it was built without "
                             "OpenCV)");
    return false;
#endif
}

bool ZTFaceDetector::loadCascades()
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
        m_name = QStringLiteral("cascades");
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

QRect ZTFaceDetector::headAround(const QRect& face, const QString& detector)
{
    const HeadMargins& margins
        = detector == QLatin1String("blazeface") ? blazeFaceHead : cascadeHead;
    const int side = int(face.width() * margins.side);
    return face.adjusted(
        -side, -int(face.height() * margins.above), side, int(face.height() * margins.below));
}
