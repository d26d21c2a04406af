#include "text/ZTUniqueNames.h"

#include <algorithm>

namespace {

// Concatenated, not formatted: a base may hold "%1" and the like, which formatting would expand.
QString numbered(const QString& base, int number)
{
    return base + QLatin1Char('-') + QString::number(number);
}

} // namespace

// Names are only ever added, so a number found taken for a base stays taken: the search for the
// next free one resumes where the last one ended instead of at 2.
QString ZTUniqueNames::take(const QString& base)
{
    if (!m_taken.contains(base)) {
        m_taken.insert(base);
        return base;
    }
    int& next = m_nextNumber[base];
    next = std::max(next, 2);
    QString name = numbered(base, next);
    while (m_taken.contains(name)) {
        name = numbered(base, ++next);
    }
    ++next;
    m_taken.insert(name);
    return name;
}
