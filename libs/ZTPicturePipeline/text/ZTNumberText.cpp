#include "text/ZTNumberText.h"

QString ZTNumberText::sizeText(const QSize& size)
{
    return QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
}

QString ZTNumberText::decimalText(double value)
{
    return QString::number(value, 'f', 1);
}

QString ZTNumberText::percentText(double part, double whole)
{
    return decimalText(100.0 * part / whole) + QLatin1Char('%');
}
