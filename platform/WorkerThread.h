#pragma once

#include "platform/Event.h"

#include <QString>

#include <atomic>
#include <thread>

// The base of the agent's worker threads: a std::thread that runs Execute()
// once, an atomic terminate flag that Execute() polls, and waits that also
// end when the thread is told to terminate (without waking meanwhile).
//
// The creator owns the object: it calls Start(), later Terminate() and
// Join(). The object never deletes itself. The destructor of a derived class
// must stop and join its thread (StopAndJoin) before its own members go, as
// the thread may still be using them; the base destructor joins as a last
// resort.
class WorkerThread {
public:
    // Linux limits thread names to 15 characters; longer names are cut.
    static constexpr int MaxNameLength = 15;

    explicit WorkerThread(QString name);
    virtual ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Starts the thread; false when it runs or ran already.
    bool Start();
    // Raises the terminate flag and wakes the waits of WaitFor and Sleep.
    virtual void Terminate();
    // Waits for the thread to end; nothing when it never started.
    void Join();
    void StopAndJoin();

    bool Terminated() const { return terminated_.load(); }
    bool Running() const { return running_.load(); }
    const QString& Name() const { return name_; }

protected:
    // The thread's work; returns when done or when Terminated().
    virtual void Execute() = 0;

    // Waits for the event; true when it was signalled, false on time-out or
    // when the thread was told to terminate (the event then stays as it was).
    // timeoutMs Event::Infinite waits without limit.
    bool WaitFor(Event& event, int timeoutMs);
    // Sleeps up to ms milliseconds; false when cut short by Terminate().
    bool Sleep(int ms);

private:
    void Run();

    const QString name_;
    std::atomic<bool> terminated_{false};
    std::atomic<bool> running_{false};
    Event wake_;                          // set by Terminate(): ends Sleep
    std::atomic<Event*> waiting_{nullptr};  // what WaitFor waits on, woken by Terminate()
    std::thread thread_;
};
