#ifndef ZTREPORTFORMATTER_H
#define ZTREPORTFORMATTER_H

#include "types/ZTPictureReport.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

/**
 * Presents a ZTPictureReport: as a JSON object (one line of ztroi's JSON Lines output) or as a
 * short summary for people.
 */
class ZTReportFormatter
{
public:
    /** The version of the JSON objects' layout, in their "version" field. */
    static constexpr int jsonVersion = 1;

    /**
     * The report as JSON. Always "version" and "input"; a failed picture adds "error" and
     * nothing else. Otherwise "size", "analysisSize", "methods", "crops", "focus", "files",
     * with --grid "grid", and with --faces "faces" and "facesFound". Rectangles are {"x", "y",
     * "width", "height"} in input pixels; "salienceKept" is rounded to four decimals; a crop has
     * "areasKept" when the run declares areas (--area or --faces). "focus" has "x", "y" and
     * "css" (focusCss()); "files" has "salience", "overlay", "maps" (by method) and "crops" (in
     * the crops' order), each when written.
     */
    static QJsonObject toJson(const ZTPictureReport& report);
    /** toJson() as one compact line, with its line feed. */
    static QByteArray toJsonLine(const ZTPictureReport& report);
    /**
     * @p focus as percentages of @p picture's width and height, one decimal each ("41.3% 52.0%"),
     * for CSS object-position; empty for an empty picture.
     */
    static QString focusCss(const QPoint& focus, const QSize& picture);
    /** A few lines for a terminal; @p coloursShown names each crop's overlay colour. */
    static QString toText(const ZTPictureReport& report, bool coloursShown);
};

#endif // ZTREPORTFORMATTER_H
