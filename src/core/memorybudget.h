#pragma once

#include <QMutex>
#include <QWaitCondition>

// Bytes that work running on several threads may hold at once. A thread asks
// for what its next step will cost and waits while others hold the rest, so
// peak memory follows the budget rather than the number of threads. Leases
// are granted in the order asked for, so no thread waits behind others that
// keep coming back.
class MemoryBudget
{
public:
    // What a generation run's decoded images and tiles in flight may take.
    static constexpr qint64 DefaultBytes = 512 * 1024 * 1024;

    explicit MemoryBudget(qint64 capacity = DefaultBytes) : m_capacity(capacity) {}

    // Holds bytes (at most the whole budget, so a single large job still
    // runs, alone) from construction to destruction.
    class Lease
    {
    public:
        Lease(MemoryBudget *budget, qint64 bytes);
        ~Lease();
        Lease(const Lease &) = delete;
        Lease &operator=(const Lease &) = delete;

    private:
        MemoryBudget *m_budget;
        qint64 m_bytes;
    };

    qint64 capacity() const { return m_capacity; }
    // The most ever held at once, and how many wait for a lease; for tests.
    qint64 peak() const;
    int waiting() const;

private:
    qint64 acquire(qint64 bytes);
    void release(qint64 bytes);

    const qint64 m_capacity;
    mutable QMutex m_mutex;
    QWaitCondition m_released;
    qint64 m_held = 0;
    qint64 m_peak = 0;
    quint64 m_nextTicket = 0; // the place in line of the next one to ask
    quint64 m_serving = 0;    // the place in line served next
    int m_waiting = 0;
};
