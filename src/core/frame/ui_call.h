#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <type_traits>

#include "frame/my_exception.h"

// Synchronous calls from any thread into the user-interface thread. A call from another
// thread is queued and its caller blocks until the UI thread has run it; on the UI thread
// itself the function runs directly. The UI thread serves the queue from its event loop (the
// GUI watches WakeFd() with a socket notifier; the command-line tool and the tests use
// ServeFor) and also while it waits for the worker in my::Thread::Stop(), so a worker blocked
// in a call can always finish.
class ModuleImpl {
public:
    using CallFn = int32_t (*)(void*);

    // First step of start-up: records the calling thread as the UI thread.
    static ModuleImpl& Create();
    // The module; created on the calling thread if Create() has not run yet.
    static ModuleImpl& Instance();
    static bool Exists();

    bool IsUiThread() const;
    std::thread::id UiThreadId() const { return uiThreadId_; }

    int32_t CallInUiThread(CallFn fn, void* data, const FileLine& where);

    // --- UI-thread side ---
    // A descriptor that becomes readable when calls or posted work are waiting.
    int WakeFd() const { return wakeFd_; }
    // Runs every call waiting now (and posted signal work); returns how many ran.
    size_t ServePendingCalls();
    // Waits up to timeout for work, then serves it. Returns true when something ran.
    bool ServeFor(std::chrono::milliseconds timeout);
    // True while the UI thread runs a call sent from another thread (the platform's
    // InSendMessage): waiting for the worker then would deadlock.
    bool IsServingCall() const { return servingDepth_.load() > 0; }
    // Wakes a ServeFor() wait without queuing anything (a worker that has ended uses it).
    void Wake();

    // Async-signal-safe: marks posted work `slot` (0…31) and wakes the UI thread, whose next
    // ServePendingCalls() runs the handler set for that slot.
    static void PostFromSignalHandler(int slot) noexcept;
    void SetPostedHandler(int slot, std::function<void()> handler);

    // Location of the most recent call sent from another thread.
    FileLine LastWhere() const;

    ~ModuleImpl();

private:
    explicit ModuleImpl(std::thread::id uiThread);
    struct Pending {
        CallFn fn;
        void* data;
        int32_t result = 0;
        bool done = false;
    };
    void RunOne(Pending& p);
    void RunPosted();
    void DrainWakeFd();

    std::thread::id uiThreadId_;
    int wakeFd_ = -1;
    mutable std::mutex mutex_;
    std::condition_variable doneCv_;
    std::deque<Pending*> queue_;
    FileLine lastWhere_;
    std::atomic<int> servingDepth_{0};
    std::mutex postedMutex_;
    std::function<void()> posted_[32];
};

int32_t CallInUiThread(ModuleImpl::CallFn fn, void* data, const FileLine& where);

// Convenience: runs any callable on the UI thread and returns its result. The callable and
// its captures live on the caller's stack, which suffices because the call is synchronous.
template <class F>
auto CallInUiThread(F&& f, const FileLine& where) -> std::invoke_result_t<F&> {
    using R = std::invoke_result_t<F&>;
    if constexpr (std::is_void_v<R>) {
        struct Package {
            F* f;
        } pkg{&f};
        ::CallInUiThread(
            [](void* d) -> int32_t {
                (*static_cast<Package*>(d)->f)();
                return 0;
            },
            &pkg, where);
    } else {
        struct Package {
            F* f;
            R* result;
        };
        R result{};
        Package pkg{&f, &result};
        ::CallInUiThread(
            [](void* d) -> int32_t {
                auto* p = static_cast<Package*>(d);
                *p->result = (*p->f)();
                return 0;
            },
            &pkg, where);
        return result;
    }
}
