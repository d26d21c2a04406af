#ifndef ZTNUMBERTEXT_H
#define ZTNUMBERTEXT_H

#include <QSize>
#include <QString>

/** Sizes and numbers as ztroi writes them in messages, summaries and the review page. */
class ZTNumberText
{
public:
    /** @p size as "WxH". */
    static QString sizeText(const QSize& size);
    /** @p value with one decimal. */
    static QString decimalText(double value);
    /** @p part of @p whole as a percentage with one decimal ("41.3%"). */
    static QString percentText(double part, double whole = 1.0);
};

#endif // ZTNUMBERTEXT_H
