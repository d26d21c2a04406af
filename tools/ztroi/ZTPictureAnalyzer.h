#ifndef ZTPICTUREANALYZER_H
#define ZTPICTUREANALYZER_H

#include "ZTCropPlanner.h"
#include "ZTCropWriter.h"
#include "ZTImageLoader.h"
#include "ZTToolSettings.h"

#include <QList>
#include <QPoint>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>
#include <memory>

class ZTMemoryBudget;
class ZTFaceDetector;
class ZTOutputFolder;
class ZTOutputTransaction;
class ZTSalienzMixer;

/**
 * Finds the faces in a picture as rectangles in its pixels, in any order. One finder may serve
 * several analyzers on several threads at once.
 */
using ZTFaceFinder = std::function<QList<QRect>(const QImage& picture)>;

/** A method as the mixer ran it. */
struct ZTMethodState
{
    ZTSalienzMethod method;
    bool enabled = false;
    int weight = 0; ///< as given to setMethodWeight (the histogram's counts negatively)
};

/** A file written for a picture. */
struct ZTOutputFile
{
    QString kind; ///< "salience", "overlay", a method's name or a crop's ("crop-16x9")
    QString path;
    /** When another file kept the file's own name: that name's path, and why it stayed. */
    QString ownPath;
    QString keptBecause;
};

/** What ztroi found out about one picture, or why it could not. */
struct ZTPictureReport
{
    QString input;        ///< the path as given
    bool bundled = false; ///< the bundled photograph, which is no file
    QString error;        ///< empty when the picture was analysed
    QSize inputSize;      ///< after EXIF orientation
    QSize analysisSize;   ///< the salience map's size
    QList<ZTMethodState> methods;
    QList<ZTCrop> crops;
    QList<QRect> faces;      ///< with --faces: the largest faces found, in input pixels
    int facesFound = -1;     ///< with --faces: how many were found (faces holds maxFaces at most)
    QPoint focus;            ///< input pixel
    QSize grid;              ///< cube columns x rows of the scores; invalid without --grid
    QVector<int> gridScores; ///< row by row, grid.width() * grid.height() entries
    QList<ZTOutputFile> files;
    QStringList decoderMessages; ///< what the decoder said, shown with --verbose
    QByteArray thumbnail; ///< a small JPEG of the picture for the review page; empty without one

    bool ok() const { return error.isEmpty(); }
};

/**
 * Analyses pictures one after another with one mixer configured from the settings: reads the
 * picture, computes its salience map, plans crops, the focal point and grid scores, and writes
 * the output files. Used by one thread at a time; parallel runs give each thread its own.
 */
class ZTPictureAnalyzer
{
public:
    /** With --faces, the largest faces of a picture that count; the rest are left out. */
    static constexpr int maxFaces = 32;

    /**
     * Writes into @p folder, which must outlive the analyzer, and be open when @p settings write
     * files. With settings.faces, faces come from @p faceFinder, or from an own ZTFaceDetector
     * when none is given; every picture fails when that cannot load its cascades.
     */
    ZTPictureAnalyzer(
        const ZTToolSettings& settings, const ZTOutputFolder& folder, ZTFaceFinder faceFinder = {});
    ~ZTPictureAnalyzer();
    Q_DISABLE_COPY(ZTPictureAnalyzer)

    /**
     * Analyses the picture at @p path and writes its files, all or none of them, into the
     * folder: @p outputName + ".KIND.png", or the next free name (see ZTOutputTransaction).
     * Never throws.
     */
    ZTPictureReport analyze(const QString& path, const QString& outputName);

    /**
     * Each picture reserves its memory in @p budget (not owned) before it is decoded: its
     * file, its decoding and its analysis, until the next picture starts.
     */
    void setMemoryBudget(ZTMemoryBudget* budget);
    /**
     * The memory that analysing one picture takes besides its decoding, apart from what its
     * crops and thumbnail take per pixel of the picture (ZTCropWriter::memoryBytesPerPixel()).
     */
    static qint64 analysisBytes(const ZTToolSettings& settings);

    /**
     * The head around a face box @p face as a face detector gives it (brows to chin, cheek to
     * cheek): a quarter of its width more on either side, half its height more above for the
     * forehead and hair and a quarter below for the chin.
     */
    static QRect headAround(const QRect& face);

    /**
     * Declares @p areas, in pixels of a picture of @p inputSize, very important to @p mixer for
     * work images of @p workSize, with the areas method's @p weight.
     */
    static void injectAreas(ZTSalienzMixer& mixer, const QList<QRect>& areas,
        const QSize& inputSize, const QSize& workSize, int weight);

private:
    bool load(const QString& path);
    void analyzePicture(
        ZTPictureReport& report, const QString& outputName, ZTOutputTransaction& files);
    bool findFaces(const QImage& picture, ZTPictureReport& report);
    QList<ZTMethodState> methodStates() const;
    QSize neededDecodeSize(const QSize& upright) const;
    static QList<ZTCropRequest> picturesMade(const ZTToolSettings& settings);

    ZTToolSettings m_settings;
    const ZTOutputFolder& m_folder;
    std::unique_ptr<ZTSalienzMixer> m_mixer;
    ZTImageLoader m_loader;
    std::unique_ptr<ZTFaceDetector> m_faceDetector;
    ZTFaceFinder m_faceFinder;
    QString m_faceError; ///< why there is no face finder
    ZTCropWriter m_cropWriter;
};

#endif // ZTPICTUREANALYZER_H
