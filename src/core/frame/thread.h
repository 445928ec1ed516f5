#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

namespace my {

// The run state of a worker, guarded by its own lock (held only to read or write the flags).
class MyThreadState {
public:
    bool GetTerminated() const;
    bool GetStopped() const;
    void SetTerminated(bool v);
    void SetStopped(bool v);
    void Set(bool terminated, bool stopped);

private:
    mutable std::mutex mutex_;
    bool terminated_ = true;
    bool stopped_ = true;
};

// A restartable worker thread. The body learns of a stop request only by polling
// IsTerminated(). Priorities 0 idle, 1 lowest, 2 lower, 3 normal, 4 higher, 5 highest,
// 6 time-critical map onto the thread's nice value where the system allows it.
class Thread {
public:
    using Body = void (*)(void*);

    Thread(Body body, void* arg, uint8_t priority = 3);
    ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // Starts the body on a new thread unless one is running.
    void Start();
    // Requests a stop and waits until the body has returned. On the UI thread the wait keeps
    // serving the calls the worker sends there.
    void Stop();
    bool IsStopped() const;
    bool IsTerminated() const;

    void SetPriority(uint8_t p);
    uint8_t GetPriority() const;

    struct Impl;

private:
    std::shared_ptr<Impl> impl_;
};

// The nice value a priority maps onto.
int NiceForPriority(uint8_t p);

}  // namespace my
