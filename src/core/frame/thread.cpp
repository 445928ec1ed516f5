#include "frame/thread.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "frame/my_exception.h"
#include "frame/ui_call.h"

namespace my {

bool MyThreadState::GetTerminated() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return terminated_;
}
bool MyThreadState::GetStopped() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return stopped_;
}
void MyThreadState::SetTerminated(bool v) {
    std::lock_guard<std::mutex> lock(mutex_);
    terminated_ = v;
}
void MyThreadState::SetStopped(bool v) {
    std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = v;
}
void MyThreadState::Set(bool terminated, bool stopped) {
    std::lock_guard<std::mutex> lock(mutex_);
    terminated_ = terminated;
    stopped_ = stopped;
}

int NiceForPriority(uint8_t p) {
    static const int nice[] = {19, 10, 5, 0, -5, -10, -20};
    return nice[p > 6 ? 6 : p];
}

struct Thread::Impl {
    Body body;
    void* arg;
    std::unique_ptr<std::thread> thr_;
    MyThreadState state_;
    std::atomic<uint8_t> priority;
    std::atomic<pid_t> tid{0};

    void ApplyPriority() {
        pid_t t = tid.load();
        if (t == 0) return;
        // Raising a priority needs a privilege the user may not have; that is not an error.
        ::setpriority(PRIO_PROCESS, static_cast<id_t>(t), NiceForPriority(priority.load()));
    }

    static void Procedure(Impl* self) {
        self->tid.store(static_cast<pid_t>(::syscall(SYS_gettid)));
        self->ApplyPriority();
        try {
            self->body(self->arg);
        } catch (...) {
            // Reporting is the body's own business.
        }
        self->tid.store(0);
        self->state_.Set(true, true);
        // A UI thread waiting in Stop() must see the end at once.
        if (ModuleImpl::Exists()) ModuleImpl::Instance().Wake();
    }

    void WaitForEnd() {
        if (!thr_) return;
        const bool serve = ModuleImpl::Exists() && ModuleImpl::Instance().IsUiThread();
        while (!state_.GetStopped()) {
            if (serve)
                ModuleImpl::Instance().ServeFor(std::chrono::milliseconds(20));
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (thr_->joinable()) thr_->join();
    }

    ~Impl() {
        // Owners stop the thread first; this is the last resort. A thread cannot be killed
        // safely, so ask it to stop and wait.
        if (!state_.GetStopped()) state_.SetTerminated(true);
        WaitForEnd();
    }
};

Thread::Thread(Body body, void* arg, uint8_t priority) : impl_(std::make_shared<Impl>()) {
    impl_->body = body;
    impl_->arg = arg;
    impl_->priority.store(priority > 6 ? 6 : priority);
}

Thread::~Thread() = default;

void Thread::Start() {
    if (!impl_->state_.GetStopped()) return;
    MY_CHECK_TEXT(impl_->state_.GetTerminated(), "state_.GetTerminated()");
    if (impl_->thr_ && impl_->thr_->joinable()) impl_->thr_->join();
    // The flags change here rather than in the new thread, so a second Start() or an early
    // Stop() cannot slip in before the thread has begun.
    impl_->state_.Set(false, false);
    Impl* self = impl_.get();
    MY_CHECK_TEXT(self, "my_thr_");
    impl_->thr_ = std::make_unique<std::thread>(&Impl::Procedure, self);
}

void Thread::Stop() {
    if (impl_->state_.GetStopped()) {
        if (impl_->thr_ && impl_->thr_->joinable() &&
            impl_->thr_->get_id() != std::this_thread::get_id())
            impl_->thr_->join();
        return;
    }
    impl_->state_.SetTerminated(true);
    MY_CHECK_TEXT(!impl_->thr_ || impl_->thr_->get_id() != std::this_thread::get_id(),
                  "Stop() from the thread itself");
    impl_->WaitForEnd();
}

bool Thread::IsStopped() const { return impl_->state_.GetStopped(); }
bool Thread::IsTerminated() const { return impl_->state_.GetTerminated(); }

void Thread::SetPriority(uint8_t p) {
    impl_->priority.store(p > 6 ? 6 : p);
    impl_->ApplyPriority();
}

uint8_t Thread::GetPriority() const { return impl_->priority.load(); }

}  // namespace my
