#pragma once

#include <functional>
#include <memory>

class QThreadPool;

// The threads that make tiles beside a run's own thread: one pool shared by
// every run and kept from run to run (until idle for the pool's expiry
// time), since a thread started afresh for each run, then faulting in its
// encoder's and composer's tables on its first tiles, cost a run of 200
// small tiles on two cores a tenth of its time.
//
// An object is one run's share of them. A job it starts runs when a thread
// is free; once the run is closed, a job that has not begun never does. So a
// run waits only for jobs that have begun, never for a thread that another
// run's jobs hold. Whatever the jobs use is declared before the object,
// whose end closes the run and waits for them.
class TileThreads
{
public:
    static QThreadPool &pool();

    // A run that asks for up to `helpers` threads at once.
    explicit TileThreads(int helpers);
    ~TileThreads();
    TileThreads(const TileThreads &) = delete;
    TileThreads &operator=(const TileThreads &) = delete;

    void start(std::function<void()> job);
    // No job of this run may begin from now on.
    void close();
    // No job of this run is running (begun and not ended).
    bool idle() const;

    // Until done() holds or no job is running. Looked for rather than slept
    // through at first, since waking a sleeping thread (on a virtual machine
    // above all) took longer than a small tile: 150-700 us. What is waited
    // for is short (the last tile of each thread, the listing of the masks),
    // so the looking ends soon; past a few milliseconds the thread sleeps,
    // woken by a job's end or notify(). done() is never called under the
    // lock, as it may report tiles.
    void waitFor(const std::function<bool()> &done);
    // Wakes a waitFor() whose condition a job has just made true.
    void notify();

private:
    struct Run;
    std::shared_ptr<Run> m_run;
};
