#ifndef ZTGAUSSIANBLUR_P_H
#define ZTGAUSSIANBLUR_P_H

// The Gaussian blur streamed row by row as planes of channel bytes. Internal; not installed.

#include "ZTPixelAccess_p.h"

#include <QImage>
#include <QVector>

#include <vector>

namespace ZTBlur {

/**
 * Finishes the rows of the blur of ZTGaussianBlur::evaluate from the top, each as three rows of
 * channel bytes (red, green, blue), before they are packed into opaque words. Only the rows that
 * the column pass still needs are held, so the memory grows with the width and the kernel, not
 * with the height. The image must outlive the stream.
 */
class RowStream
{
public:
    /**
     * A stream over @p image with the odd-length @p kernel that keeps the last @p keptRows
     * finished rows (at least 1) readable.
     */
    RowStream(const QImage& image, const QVector<double>& kernel, int keptRows);

    /** Finishes the next row, starting with row 0; at most height() times. */
    void finishNextRow();

    /** Channel 0 (red), 1 (green) or 2 (blue) of finished row @p y, one of the kept rows. */
    const quint8* row(int channel, int y) const
    {
        return m_finished.data() + (size_t(y % m_finishedRows) * 3 + size_t(channel)) * m_columns;
    }

private:
    void rowPass(int y);
    quint8* passedRow(int channel, int y)
    {
        return m_passed.data() + (size_t(y % m_passedRows) * 3 + size_t(channel)) * m_columns;
    }
    quint8* finishedRow(int channel, int y)
    {
        return m_finished.data() + (size_t(y % m_finishedRows) * 3 + size_t(channel)) * m_columns;
    }

    const QImage& m_image;
    const QVector<double> m_kernel;
    const ZTPixelAccess::PixelReader m_reader;
    const bool m_wordFormat;
    const int m_width;
    const int m_height;
    const size_t m_columns;
    const int m_rowHalf;
    const int m_columnHalf;
    double m_divisor = 0.0;
    int m_passedRows;
    int m_finishedRows;
    int m_nextPassed = 0;
    int m_nextFinished = 0;
    std::vector<QRgb> m_converted;
    std::vector<double> m_framedLines; // three framed lines of channel samples
    std::vector<double> m_sums;
    std::vector<quint8> m_passed;   // rows of the row pass not yet finished
    std::vector<quint8> m_finished; // the latest finished rows
};

} // namespace ZTBlur

#endif // ZTGAUSSIANBLUR_P_H
