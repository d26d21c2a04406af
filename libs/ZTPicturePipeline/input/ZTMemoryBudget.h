#ifndef ZTMEMORYBUDGET_H
#define ZTMEMORYBUDGET_H

#include <QtGlobal>

#include <condition_variable>
#include <mutex>

/**
 * The memory that the pictures of a run may take together. Each picture reserves its estimate
 * before it is decoded and releases it once its work is done; a reservation that does not fit
 * beside the others waits for them, in the order the reservations were asked for. Thread-safe.
 */
class ZTMemoryBudget
{
public:
    /** The default budget of a run: 4 GiB. */
    static constexpr qint64 defaultBytes = qint64(4096) << 20;

    explicit ZTMemoryBudget(qint64 bytes);
    Q_DISABLE_COPY(ZTMemoryBudget)

    qint64 bytes() const { return m_bytes; }

    /**
     * Reserves @p bytes, waiting until they fit. Returns false at once, reserving nothing, when
     * they exceed the whole budget.
     */
    bool reserve(qint64 bytes);
    /** Reserves @p bytes only if they fit at once and no reservation is waiting. */
    bool tryReserve(qint64 bytes);
    /** Gives back @p bytes of an earlier reserve(). */
    void release(qint64 bytes);

private:
    const qint64 m_bytes;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    qint64 m_used = 0;
    quint64 m_nextTicket = 0;
    quint64 m_serving = 0;
};

#endif // ZTMEMORYBUDGET_H
