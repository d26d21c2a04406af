#ifndef ZTUNIQUENAMES_H
#define ZTUNIQUENAMES_H

#include <QHash>
#include <QSet>
#include <QString>

/**
 * Hands out names that are unique among those handed out so far: a base name as it is the first
 * time, then BASE-2, BASE-3, ... (the first of these not taken yet). A name that looks generated,
 * such as "p-2" asked for as a base, is taken as it is, and "p" then skips it.
 *
 * Each name costs amortised constant time, whatever the names: every name taken is passed over
 * at most once by the one base that could generate it. The names taken are remembered, so the
 * memory grows with the number of names handed out.
 */
class ZTUniqueNames
{
public:
    /** A name for @p base not handed out before; @p base itself if it is still free. */
    QString take(const QString& base);

    /** How many names were handed out. */
    int size() const { return m_taken.size(); }

private:
    QSet<QString> m_taken;
    QHash<QString, int> m_nextNumber; ///< per base, the first number that may still be free
};

#endif // ZTUNIQUENAMES_H
