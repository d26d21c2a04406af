#ifndef ZTFUZZCHECKS_H
#define ZTFUZZCHECKS_H

// Checks shared by the library's fuzz targets: every finding ends in abort(), which libFuzzer
// reports as a crash and keeps the input for.

#include <QImage>
#include <QString>
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace ZTFuzz {

[[noreturn]] inline void fail(const char* what)
{
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

inline void require(bool condition, const char* what)
{
    if (!condition) {
        fail(what);
    }
}

// The one message the library may log: the very important areas' size warning.
constexpr char areasWarningFunction[]
    = "virtual QImage ZTVeryImportantAreasROI::evaluate(const QImage&)";
constexpr char areasWarning[] = "TODO: umrechnen der Größe! (worldmatrix berechnen)";

inline int& areasWarningCount()
{
    static int count = 0;
    return count;
}

// Any other message, from the library or from Qt on the library's behalf, is a finding.
inline void strictMessageHandler(
    QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtWarningMsg && context.function
        && std::strcmp(context.function, areasWarningFunction) == 0
        && message == QString::fromUtf8(areasWarning)) {
        ++areasWarningCount();
        return;
    }
    std::fprintf(stderr, "unexpected Qt message (type %d) from %s: %s\n", int(type),
        context.function ? context.function : "?", qPrintable(message));
    std::abort();
}

/** Whether every pixel of @p map is opaque with red = green = blue. */
inline bool isOpaqueGrey(const QImage& map)
{
    if (map.format() != QImage::Format_ARGB32) {
        return false;
    }
    for (int y = 0; y < map.height(); ++y) {
        const QRgb* const line = reinterpret_cast<const QRgb*>(map.constScanLine(y));
        for (int x = 0; x < map.width(); ++x) {
            const QRgb p = line[x];
            if (qAlpha(p) != 255 || qRed(p) != qGreen(p) || qRed(p) != qBlue(p)) {
                return false;
            }
        }
    }
    return true;
}

/** A salience map of @p size: null for an empty size, otherwise opaque grey ARGB32. */
inline void requireMap(const QImage& map, const QSize& size, const char* what)
{
    if (size.isEmpty()) {
        require(map.isNull(), what);
        return;
    }
    require(map.size() == size && isOpaqueGrey(map), what);
}

} // namespace ZTFuzz

#endif // ZTFUZZCHECKS_H
