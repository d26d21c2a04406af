#ifndef ZTREPORTFORMATTER_H
#define ZTREPORTFORMATTER_H

#include "types/ZTPictureReport.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

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
     * nothing else: {"kind", "message"}, the kind as ZTError::kindName() spells it. Otherwise
     * "size", "analysisSize", "methods", "crops", "focus", "files", with --grid "grid", and with
     * --faces "faces" and "facesFound". Rectangles are {"x", "y", "width", "height"} in input
     * pixels; "salienceKept" is rounded to four decimals; a crop has "areasKept" when the run
     * declares areas (--area or --faces), "writtenSize" (the size of its picture as written, or
     * as --write-crops would write it), "scale" (written over crop size, the larger of the two
     * sides', rounded to four decimals) and "warnings" (ZTCropWarnings' words, always present,
     * empty when nothing is wrong). "focus" has "x", "y" and "css" (focusCss()); "files" has
     * "salience", "overlay", "maps" (by method) and "crops" (in the crops' order), each when
     * written. When a file could not take its own name, "renamed" lists such files as {"path",
     * "wanted", "reason"}: the path written, the one that stays, and why it stays
     * (ZTOutputTransaction::write()).
     */
    static QJsonObject toJson(const ZTPictureReport& report);
    /** toJson() as one compact line, with its line feed. */
    static QByteArray toJsonLine(const ZTPictureReport& report);
    /**
     * @p focus as percentages of @p picture's width and height, one decimal each ("41.3% 52.0%"),
     * for CSS object-position; empty for an empty picture.
     */
    static QString focusCss(const QPoint& focus, const QSize& picture);
    /**
     * One line for each file of "renamed", for standard error: "ztroi-out/c.salience.png stays
     * (not written by ztroi); wrote ztroi-out/c-2.salience.png".
     */
    static QStringList renameNotes(const ZTPictureReport& report);
    /** A few lines for a terminal; @p coloursShown names each crop's overlay colour. */
    static QString toText(const ZTPictureReport& report, bool coloursShown);
    /**
     * One line for a terminal, without its line feed: the input, its size, the number of crops,
     * the faces (when looked for), the time taken (when measured), then a tag for the crops
     * that were enlarged and one for the weak ones:
     * "a.jpg  4032x3024  3 crops  faces 2  0.41 s  enlarged: 4:5 2.40x  weak: 16:9 (cuts-face)".
     * A failed picture: "INPUT: ERROR".
     */
    static QString toLine(const ZTPictureReport& report);
    /** Whether the file of @p crop is larger than the crop: its pixels were made up. */
    static bool isEnlarged(const ZTCrop& crop);
    /** The warnings of @p crop that make it weak; enlarging is told apart (isEnlarged()). */
    static QStringList weakWarnings(const ZTCrop& crop);
};

#endif // ZTREPORTFORMATTER_H
