#include "input/ZTMemoryBudget.h"

ZTMemoryBudget::ZTMemoryBudget(qint64 bytes)
    : m_bytes(bytes)
{}

// Tickets keep the order: a large reservation that waits is not overtaken by small ones, which
// could otherwise keep it waiting for as long as small pictures come.
bool ZTMemoryBudget::reserve(qint64 bytes)
{
    if (bytes > m_bytes) {
        return false;
    }
    std::unique_lock<std::mutex> lock(m_mutex);
    const quint64 ticket = m_nextTicket++;
    m_changed.wait(lock, [&] { return ticket == m_serving && m_used + bytes <= m_bytes; });
    m_used += bytes;
    ++m_serving;
    m_changed.notify_all();
    return true;
}

bool ZTMemoryBudget::tryReserve(qint64 bytes)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (m_nextTicket != m_serving || m_used + bytes > m_bytes) {
        return false;
    }
    m_used += bytes;
    return true;
}

void ZTMemoryBudget::release(qint64 bytes)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_used -= bytes;
    m_changed.notify_all();
}
