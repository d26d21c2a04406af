#ifndef ZTOPTIONTABLE_H
#define ZTOPTIONTABLE_H

#include "settings/ZTAnalysisSettings.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

/**
 * One option of an analysis: its names, the syntax of its value, its numeric limits, its help
 * text and the setter that applies a value to the settings @p Settings. The command line of
 * ztroi and the keyword arguments of the Python module are both read through such rows, so
 * that they accept the same values and refuse the others with the same message.
 */
template<typename Settings>
struct ZTOptionRowOf
{
    enum Kind {
        Flag,      ///< no value; the setter gets an empty text
        Value,     ///< one value; given twice, the last counts
        Repeatable ///< every value is applied, in the order given
    };
    /**
     * Applies @p value; false when it is malformed. The setter may set @p error to a message
     * of its own; otherwise the row's usage error says what was expected.
     */
    using Setter = std::function<bool(Settings& settings, const QString& value, QString* error)>;

    QString name;      ///< the long name, without "--"
    QString shortName; ///< one letter or empty
    QString syntax;    ///< the value's syntax ("WxH", "N", ...); empty for a flag
    QString help;
    Kind kind = Flag;
    std::optional<qint64> min; ///< the smallest number that the value may hold, if numeric
    std::optional<qint64> max; ///< the largest
    QString expected;          ///< what a malformed value should have been, for the usage error
    QString needs;             ///< an option without which this one would do nothing
    Setter set;

    /** "--name value: expected ...": the one formatter of the rows' usage errors. */
    QString usageError(const QString& value) const
    {
        return QStringLiteral("--%1 %2: expected %3").arg(name, value, expected);
    }

    /** Applies @p value through the setter; false with @p error set when it is malformed. */
    bool apply(Settings& settings, const QString& value, QString* error) const
    {
        QString own;
        if (set(settings, value, &own)) {
            return true;
        }
        *error = own.isEmpty() ? usageError(value) : own;
        return false;
    }

    /** This row acting on settings derived from @p Settings: a row of a table that extends. */
    template<typename Derived>
    ZTOptionRowOf<Derived> widened() const
    {
        ZTOptionRowOf<Derived> row;
        row.name = name;
        row.shortName = shortName;
        row.syntax = syntax;
        row.help = help;
        row.kind = typename ZTOptionRowOf<Derived>::Kind(kind);
        row.min = min;
        row.max = max;
        row.expected = expected;
        row.needs = needs;
        row.set = [set = set](Derived& settings, const QString& value, QString* error) {
            return set(settings, value, error);
        };
        return row;
    }
};

using ZTOptionRow = ZTOptionRowOf<ZTAnalysisSettings>;

/**
 * The options of a picture's analysis and of the files written for it: size, weights, crops,
 * grid, areas, faces, histogram parameters, limits, formats, memory, what is written and where.
 * Options are applied row by row, then finish() checks how they go together.
 */
class ZTOptionTable
{
public:
    static constexpr int maxAnalysisSide = 4096;
    static constexpr int maxCropTerm = 100000;
    static constexpr int maxWeight = 1000;
    static constexpr int maxAreaCoordinate = 1000000;
    static constexpr int maxGridCells = 100;
    static constexpr int maxHistogramBlocks = 100;
    static constexpr int maxHistogramBins = 256;
    static constexpr int maxQuality = 100;
    static constexpr qint64 maxMemoryMegabytes = 1 << 20;

    /** The rows, in the order of ztroi's help. */
    static const QList<ZTOptionRow>& rows();
    /** The row called @p name (long or short name); null if there is none. */
    static const ZTOptionRow* find(const QString& name);

    /** The crops that every picture gets when neither --crop nor --no-crops is given. */
    static QStringList defaultCrops();

    /**
     * Completes settings to which the rows named in @p given were applied: the default crops,
     * and the refusal of options that exclude each other or would do nothing. False with
     * @p error set when the options do not go together.
     */
    static bool finish(ZTAnalysisSettings& settings, const QSet<QString>& given, QString* error);

    /**
     * Settings from options given by name, each with its values (one for a flag or a value, any
     * number for a repeatable option), applied directly through the rows and finished. False
     * with @p error set for a malformed value; with @p unknown set too when a name is no row's.
     */
    static bool settingsFromKeywords(const QList<QPair<QString, QStringList>>& keywords,
        ZTAnalysisSettings* settings, QString* error, bool* unknown);

    /** Parses "16:9" (an aspect) or "1920x1080" (an output size); false if malformed. */
    static bool parseCrop(const QString& text, ZTCropRequest* request);
    /** Parses "WxH" with both parts in @p min ... @p max; false otherwise. */
    static bool parseSize(const QString& text, int min, int max, QSize* size);
    /** Parses a whole number as written (no spaces, no "+") in @p min ... @p max. */
    static bool parseWhole(const QString& text, qint64 min, qint64 max, qint64* value);
    /** "sobel, center, ...": the methods' names. */
    static QString methodNames();
};

#endif // ZTOPTIONTABLE_H
