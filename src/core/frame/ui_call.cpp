#include "frame/ui_call.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "frame/console.h"
#include "frame/format.h"
#include "frame/message_box.h"

namespace {

std::mutex g_createMutex;
std::atomic<ModuleImpl*> g_module{nullptr};
// Written from signal handlers, so plain globals: the descriptor and the posted bits.
std::atomic<int> g_wakeFd{-1};
std::atomic<uint32_t> g_postedBits{0};

void WriteWake(int fd) noexcept {
    if (fd < 0) return;
    uint64_t one = 1;
    // A full counter only means the UI thread already has a wake-up waiting.
    ssize_t r = ::write(fd, &one, sizeof one);
    (void)r;
}

}  // namespace

ModuleImpl::ModuleImpl(std::thread::id uiThread) : uiThreadId_(uiThread) {
    wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    g_wakeFd.store(wakeFd_);
}

ModuleImpl::~ModuleImpl() {
    g_wakeFd.store(-1);
    if (wakeFd_ >= 0) ::close(wakeFd_);
}

ModuleImpl& ModuleImpl::Create() {
    std::lock_guard<std::mutex> lock(g_createMutex);
    ModuleImpl* m = g_module.load();
    if (!m) {
        // Lives until the process ends: the worker may still hold a pointer during exit.
        static ModuleImpl* instance = new ModuleImpl(std::this_thread::get_id());
        m = instance;
        g_module.store(m);
    }
    return *m;
}

ModuleImpl& ModuleImpl::Instance() {
    ModuleImpl* m = g_module.load();
    return m ? *m : Create();
}

bool ModuleImpl::Exists() { return g_module.load() != nullptr; }

bool ModuleImpl::IsUiThread() const { return std::this_thread::get_id() == uiThreadId_; }

FileLine ModuleImpl::LastWhere() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastWhere_;
}

int32_t ModuleImpl::CallInUiThread(CallFn fn, void* data, const FileLine& where) {
    if (IsUiThread()) return fn(data);
    Pending p{fn, data};
    std::unique_lock<std::mutex> lock(mutex_);
    lastWhere_ = where;
    queue_.push_back(&p);
    WriteWake(wakeFd_);
    doneCv_.wait(lock, [&] { return p.done; });
    return p.result;
}

void ModuleImpl::RunOne(Pending& p) {
    servingDepth_.fetch_add(1);
    try {
        p.result = p.fn(p.data);
    } catch (...) {
        servingDepth_.fetch_sub(1);
        MyExceptionPtr e = MyException::FromCurrent(MY_HERE);
        FileLine where = LastWhere();
        const std::string text =
            Format("%d:%s\n%s", where.line, where.file.c_str(),
                   FormatMyExceptionChain(e, "\n\t", "%eMsg %eLine %eFile").c_str());
        ConsolePrintColored("\n" + text + "\n", ConColorRed);
        MyMessageBox(nullptr, text, "ModuleImpl::WndProc", MB_ICONERROR,
                     "Необработанное исключение");
        // The worker is blocked inside this call and cannot be unwound; end the process, but
        // keep the run's trace: the log is what a service engineer sends in.
        GUIConsole::Instance().DumpToLog();
        std::fflush(nullptr);
        std::_Exit(1);
    }
    servingDepth_.fetch_sub(1);
}

void ModuleImpl::DrainWakeFd() {
    uint64_t v;
    while (::read(wakeFd_, &v, sizeof v) > 0) {
    }
}

void ModuleImpl::RunPosted() {
    uint32_t bits = g_postedBits.exchange(0);
    for (int slot = 0; bits; ++slot, bits >>= 1) {
        if (!(bits & 1u)) continue;
        std::function<void()> h;
        {
            std::lock_guard<std::mutex> lock(postedMutex_);
            h = posted_[slot];
        }
        if (h) h();
    }
}

size_t ModuleImpl::ServePendingCalls() {
    DrainWakeFd();
    size_t ran = 0;
    if (g_postedBits.load()) {
        RunPosted();
        ++ran;
    }
    for (;;) {
        Pending* p = nullptr;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (queue_.empty()) break;
            p = queue_.front();
            queue_.pop_front();
        }
        RunOne(*p);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            p->done = true;
        }
        doneCv_.notify_all();
        ++ran;
    }
    return ran;
}

bool ModuleImpl::ServeFor(std::chrono::milliseconds timeout) {
    if (ServePendingCalls()) return true;
    pollfd pfd{wakeFd_, POLLIN, 0};
    int ms = static_cast<int>(timeout.count());
    int r = ::poll(&pfd, 1, ms < 0 ? 0 : ms);
    if (r > 0) return ServePendingCalls() > 0;
    return false;
}

void ModuleImpl::Wake() { WriteWake(wakeFd_); }

void ModuleImpl::PostFromSignalHandler(int slot) noexcept {
    if (slot < 0 || slot > 31) return;
    g_postedBits.fetch_or(1u << slot);
    WriteWake(g_wakeFd.load());
}

void ModuleImpl::SetPostedHandler(int slot, std::function<void()> handler) {
    if (slot < 0 || slot > 31) return;
    std::lock_guard<std::mutex> lock(postedMutex_);
    posted_[slot] = std::move(handler);
}

int32_t CallInUiThread(ModuleImpl::CallFn fn, void* data, const FileLine& where) {
    return ModuleImpl::Instance().CallInUiThread(fn, data, where);
}
