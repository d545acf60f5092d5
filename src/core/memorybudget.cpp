#include "memorybudget.h"

#include <QMutexLocker>

MemoryBudget::Lease::Lease(MemoryBudget *budget, qint64 bytes)
    : m_budget(budget), m_bytes(budget ? budget->acquire(bytes) : 0)
{
}

MemoryBudget::Lease::~Lease()
{
    if (m_budget)
        m_budget->release(m_bytes);
}

qint64 MemoryBudget::peak() const
{
    QMutexLocker lock(&m_mutex);
    return m_peak;
}

int MemoryBudget::waiting() const
{
    QMutexLocker lock(&m_mutex);
    return m_waiting;
}

qint64 MemoryBudget::acquire(qint64 bytes)
{
    bytes = qBound<qint64>(0, bytes, m_capacity);
    QMutexLocker lock(&m_mutex);
    const quint64 ticket = m_nextTicket++;
    ++m_waiting;
    while (ticket != m_serving || m_held + bytes > m_capacity)
        m_released.wait(&m_mutex);
    --m_waiting;
    ++m_serving;
    m_held += bytes;
    m_peak = qMax(m_peak, m_held);
    // The next in line may fit beside this one.
    m_released.wakeAll();
    return bytes;
}

void MemoryBudget::release(qint64 bytes)
{
    QMutexLocker lock(&m_mutex);
    m_held -= bytes;
    m_released.wakeAll();
}
