#ifndef ZTPICTUREANALYZER_H
#define ZTPICTUREANALYZER_H

#include "crops/ZTCropWriter.h"
#include "input/ZTImageLoader.h"
#include "settings/ZTAnalysisSettings.h"
#include "types/ZTCropRequest.h"
#include "types/ZTPictureReport.h"

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
class ZTSalienzMixer;

/**
 * Finds the faces in a picture as rectangles in its pixels, in any order. One finder may serve
 * several analyzers on several threads at once.
 */
using ZTFaceFinder = std::function<QList<QRect>(const QImage& picture)>;

/**
 * One picture analysed: its report, and what writing its files takes (ZTOutputWriter). A failed
 * analysis holds only the report, which says why.
 */
struct ZTPictureAnalysis
{
    ZTPictureReport report;
    QImage picture;                    ///< as decoded, upright; may be smaller than the input
    QByteArray format;                 ///< the decoder's name of the picture's format ("jpeg")
    QImage salience;                   ///< the mixed map
    QList<QImage> maps;                ///< each enabled method's map, in the order of methods
    QList<ZTSalienzMethod> mapMethods; ///< the method of each of maps
};

/**
 * Analyses pictures one after another with one mixer configured from the settings: reads the
 * picture, computes its salience map, plans crops, the focal point and grid scores. Writes
 * nothing: ZTOutputWriter writes the files of an analysis. Used by one thread at a time;
 * parallel runs give each thread its own.
 */
class ZTPictureAnalyzer
{
public:
    /** With --faces, the largest faces of a picture that count; the rest are left out. */
    static constexpr int maxFaces = 32;

    /**
     * With settings.faces, faces come from @p faceFinder, whose detector @p faceDetector names
     * ("blazeface", "cascades"; see ZTFaceDetector::name()), or from an own ZTFaceDetector when
     * none is given; every picture fails when that can load neither detector.
     */
    explicit ZTPictureAnalyzer(const ZTAnalysisSettings& settings, ZTFaceFinder faceFinder = {},
        const QString& faceDetector = QString());
    ~ZTPictureAnalyzer();
    Q_DISABLE_COPY(ZTPictureAnalyzer)

    /**
     * Analyses the picture at @p path; its report says why when that fails. Writes no file.
     * Never throws.
     */
    ZTPictureAnalysis analyze(const QString& path);
    /**
     * Analyses the encoded picture in @p data (a file's bytes, read with a file's checks and
     * memory budget) and reports it as @p name. Writes no file. Never throws.
     */
    ZTPictureAnalysis analyzeData(const QString& name, const QByteArray& data);
    /**
     * Analyses @p picture, already decoded and upright (any format; its full size), and reports
     * it as @p name; @p format names the format that its crops would be written in as the
     * picture's own ("png"). Nothing is read: the pixel limit and the budget are the caller's.
     * Writes no file. Never throws.
     */
    ZTPictureAnalysis analyzeImage(
        const QString& name, const QImage& picture, const QByteArray& format);

    /**
     * Each picture reserves its memory in @p budget (not owned) before it is decoded: its
     * file, its decoding and its analysis, until the next picture starts.
     */
    void setMemoryBudget(ZTMemoryBudget* budget);
    /**
     * The memory that analysing one picture takes besides its decoding, apart from what its
     * crops and thumbnail take per pixel of the picture (ZTCropWriter::memoryBytesPerPixel()).
     * With a valid @p picture (its size), crops are counted as large as they get of it;
     * otherwise as large as they may get of any picture.
     */
    static qint64 analysisBytes(const ZTAnalysisSettings& settings, const QSize& picture = QSize());

    /**
     * The head around a face box @p face as the face detector @p detector gives it (see
     * ZTFaceDetector::headAround(); the cascades' margins for an unnamed detector).
     */
    static QRect headAround(const QRect& face, const QString& detector = QString());

    /** The writer of the crops that @p settings ask for. */
    static ZTCropWriter cropWriterFor(const ZTAnalysisSettings& settings);

    /**
     * Declares @p areas, in pixels of a picture of @p inputSize, very important to @p mixer for
     * work images of @p workSize, with the areas method's @p weight.
     */
    static void injectAreas(ZTSalienzMixer& mixer, const QList<QRect>& areas,
        const QSize& inputSize, const QSize& workSize, int weight);

private:
    bool load(const QString& path);
    ZTPictureAnalysis analyzeLoaded(const QString& name, const std::function<bool()>& readPicture);
    void analyzePicture(ZTPictureAnalysis& analysis);
    bool findFaces(const QImage& picture, ZTPictureReport& report);
    QList<ZTMethodState> methodStates() const;
    QSize neededDecodeSize(const QSize& upright) const;
    static QList<ZTCropRequest> picturesMade(const ZTAnalysisSettings& settings);

    ZTAnalysisSettings m_settings;
    std::unique_ptr<ZTSalienzMixer> m_mixer;
    ZTImageLoader m_loader;
    std::unique_ptr<ZTFaceDetector> m_ownFaceDetector;
    ZTFaceFinder m_faceFinder;
    QString m_faceError;    ///< why there is no face finder
    QString m_faceDetector; ///< the name of the finder's detector
    ZTCropWriter m_cropWriter;
    QImage m_image;           ///< a decoded picture given to analyzeImage(), until analysed
    QByteArray m_imageFormat; ///< the format its crops take as its own
};

#endif // ZTPICTUREANALYZER_H
