#include "tilethreads.h"

#include <QElapsedTimer>
#include <QThread>
#include <QThreadPool>

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace {

constexpr qint64 MaxSpinNs = 5 * 1000 * 1000;

} // namespace

// Shared with the run's jobs, so a job that begins after the run has ended
// still finds it, closed.
struct TileThreads::Run
{
    std::mutex mutex;
    std::condition_variable changed;
    std::atomic<int> running{0}; // changed under the lock
    bool closed = false;
    quint64 changes = 0; // job ends and notifications
};

QThreadPool &TileThreads::pool()
{
    static QThreadPool threads;
    return threads;
}

TileThreads::TileThreads(int helpers) : m_run(std::make_shared<Run>())
{
    // Runs at once may each ask for more; the largest ask stands.
    static std::mutex sizing;
    const std::lock_guard<std::mutex> lock(sizing);
    if (pool().maxThreadCount() < helpers)
        pool().setMaxThreadCount(helpers);
}

TileThreads::~TileThreads()
{
    close();
    std::unique_lock<std::mutex> lock(m_run->mutex);
    m_run->changed.wait(lock, [this] { return m_run->running.load() == 0; });
}

void TileThreads::start(std::function<void()> job)
{
    pool().start([run = m_run, job = std::move(job)] {
        {
            const std::lock_guard<std::mutex> lock(run->mutex);
            if (run->closed)
                return;
            ++run->running;
        }
        job();
        // Notified under the lock, so that the lock taken at the run's end
        // waits for this, the job's last touch of anything but `run`.
        const std::lock_guard<std::mutex> lock(run->mutex);
        --run->running;
        ++run->changes;
        run->changed.notify_all();
    });
}

void TileThreads::close()
{
    const std::lock_guard<std::mutex> lock(m_run->mutex);
    m_run->closed = true;
}

bool TileThreads::idle() const
{
    return m_run->running.load(std::memory_order_acquire) == 0;
}

void TileThreads::waitFor(const std::function<bool()> &done)
{
    QElapsedTimer spun;
    spun.start();
    while (!done()) {
        if (spun.nsecsElapsed() > MaxSpinNs) {
            Run &run = *m_run;
            std::unique_lock<std::mutex> lock(run.mutex);
            while (run.running.load() > 0) {
                const quint64 seen = run.changes;
                lock.unlock();
                if (done())
                    return;
                lock.lock();
                run.changed.wait(lock,
                                 [&] { return run.changes != seen || run.running.load() == 0; });
            }
            return;
        }
        QThread::yieldCurrentThread();
    }
}

void TileThreads::notify()
{
    const std::lock_guard<std::mutex> lock(m_run->mutex);
    ++m_run->changes;
    m_run->changed.notify_all();
}
