#ifndef ZTPICTUREREPORT_H
#define ZTPICTUREREPORT_H

#include "types/ZTCrop.h"
#include "types/ZTError.h"
#include "types/ZTMethodState.h"
#include "types/ZTOutputFile.h"

#include <QByteArray>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QVector>

/** What ztroi found out about one picture, or why it could not. */
struct ZTPictureReport
{
    QString input;        ///< the path as given
    bool bundled = false; ///< the bundled photograph, which is no file
    QString error;        ///< empty when the picture was analysed
    /** What kind of failure error says; None while there is none. */
    ZTError::Kind errorKind = ZTError::Kind::None;
    QSize inputSize;    ///< after EXIF orientation
    QSize analysisSize; ///< the salience map's size
    QList<ZTMethodState> methods;
    QList<ZTCrop> crops;
    QList<QRect> faces;      ///< with --faces: the largest faces found, in input pixels
    int facesFound = -1;     ///< with --faces: how many were found (faces holds maxFaces at most)
    QString faceDetector;    ///< with faces: the detector that ran ("blazeface", "cascades")
    QPoint focus;            ///< input pixel
    QSize grid;              ///< cube columns x rows of the scores; invalid without --grid
    QVector<int> gridScores; ///< row by row, grid.width() * grid.height() entries
    QList<ZTOutputFile> files;
    QStringList decoderMessages; ///< what the decoder said, shown with --verbose
    double seconds = -1.0;       ///< the time its analysis and files took; -1 when not measured
    QByteArray thumbnail; ///< a small JPEG of the picture for the review page; empty without one
    QByteArray heatMap;   ///< the same for its salience as heat, shown on demand; may be empty

    bool ok() const { return error.isEmpty(); }
    /** Records a failure: its @p kind and its @p message. */
    void fail(ZTError::Kind kind, const QString& message)
    {
        errorKind = kind;
        error = message;
    }
};

#endif // ZTPICTUREREPORT_H
