#include "transfer/transfer_manager.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <thread>

#include "frame/console.h"
#include "frame/error_report.h"
#include "frame/date_time.h"
#include "frame/format.h"
#include "frame/ini_file.h"
#include "frame/thread.h"
#include "frame/ui_call.h"
#include "transfer/wait_window.h"

namespace {

const char* const kSection = "Трансфер";
const char* const kKeyPriority = "приоритет_второго_потока";
constexpr uint8_t kDefaultPriority = 1;
constexpr uint8_t kNormalPriority = 3;
constexpr uint8_t kTimeCriticalPriority = 6;

const char* const kPollStartText = "Опрос: старт";
const char* const kPollStopText = "Опрос остановлен";

// Milliseconds as a time of day counted from zero.
std::string MsText(int64_t ms) {
    return FormatDateTime("hh:nn:ss:zzz", static_cast<double>(ms) / kMSecsPerDay);
}

}  // namespace

uint8_t LoadWorkerPriority(const IniFile& ini) {
    return static_cast<uint8_t>(
        ReadBoundedInt(ini, kSection, kKeyPriority, 0, kTimeCriticalPriority, kDefaultPriority));
}

void SaveWorkerPriority(IniFile& ini, uint8_t priority) {
    ini.WriteInteger(kSection, kKeyPriority, priority);
}

bool SaveWorkerPriorityReporting(IniFile& ini, uint8_t priority) noexcept {
    try {
        SaveWorkerPriority(ini, priority);
        return true;
    } catch (...) {
        ReportCurrentException(MY_HERE, true);
        return false;
    }
}

class TransferManagerT::Impl {
  public:
    // Thrown by Stop() on the worker: unwinds the running transfer to the worker loop.
    struct TerminateFromThreadSignal {};

    Impl();
    ~Impl();

    void AddTransfer(TransferPtr t, bool toBack);
    void Start();
    void Stop();
    bool ShouldStop() const;
    bool IsPolling() const { return !thread_.IsStopped(); }
    void Wait(int ms, bool showProgress);
    MyExceptionPtr LastError() const;
    void ShowWait(const std::string& text, bool withProgress);
    void HideWait();
    void SetProgress(int position, int max, int min);
    // Ends a still running worker without the notifications of Stop() (destruction).
    void StopWorkerQuietly() noexcept;

    myIO::AutoQuote trace;
    my::Thread thread_;
    TaskList tasks_;
    SignalT signal_;
    std::unique_ptr<WaitWindow> wait_;

  private:
    static void Execute(void* self);
    void Loop();
    bool StopAsked() const { return ShouldStop() || stopRequested_.load(); }
    TransferPtr NextTask();
    // Both give nothing when a stop came first: the transfer then stays first in the queue.
    std::optional<bool> BeginTask();
    std::optional<bool> EndTask();
    void ReportError();
    void Notify(uint32_t code, const std::string& text);
    void SetLastError(MyExceptionPtr e);

    // The worker writes it, the user interface reads it while the worker is blocked in a call
    // or stopped; the lock only keeps a stray read elsewhere from tearing the pointer.
    mutable std::mutex lastErrorMutex_;
    MyExceptionPtr lastError_;
    // Set on the UI thread inside a call from the worker, where waiting for it would deadlock.
    std::atomic<bool> stopRequested_{false};
    std::thread::id uiThreadId_;
};

TransferManagerT::Impl::Impl()
    : trace("MyTransfer::Manager.[members]"),
      thread_(&Impl::Execute, this, kNormalPriority),
      uiThreadId_(std::this_thread::get_id()) {
    static bool wasCalledOnce = false;
    MY_CHECK(!wasCalledOnce);
    wasCalledOnce = true;
    thread_.SetPriority(LoadWorkerPriority(ConfigIni()));
    wait_ = CreateWaitWindow();
    MY_CHECK(wait_);
    wait_->SetCancelAction([this] { Stop(); });
}

TransferManagerT::Impl::~Impl() {
    // The worker runs on these members: it must end before they go.
    StopWorkerQuietly();
    SaveWorkerPriorityReporting(ConfigIni(), thread_.GetPriority());
    signal_.Clear();
}

void TransferManagerT::Impl::StopWorkerQuietly() noexcept {
    try {
        thread_.Stop();
    } catch (...) {
        ReportCurrentException(MY_HERE, false);
    }
}

void TransferManagerT::Impl::AddTransfer(TransferPtr t, bool toBack) {
    if (toBack)
        tasks_.AddBack(std::move(t));
    else
        tasks_.AddFront(std::move(t));
}

void TransferManagerT::Impl::Start() {
    SetLastError(nullptr);
    if (!thread_.IsStopped()) return;
    // A stop marked during the previous polling must not end this one.
    stopRequested_ = false;
    thread_.Start();
}

void TransferManagerT::Impl::Stop() {
    if (std::this_thread::get_id() != uiThreadId_) throw TerminateFromThreadSignal{};
    if (ModuleImpl::Instance().IsServingCall()) {
        // The worker waits for this very call to return; it sees the flag right after.
        stopRequested_ = true;
        return;
    }
    const uint8_t priority = thread_.GetPriority();
    // The worker must reach its next stop check quickly, even on a busy machine.
    thread_.SetPriority(kTimeCriticalPriority);
    try {
        thread_.Stop();
    } catch (...) {
        thread_.SetPriority(priority);
        throw;
    }
    thread_.SetPriority(priority);
    Notify(NtfPollStop, kPollStopText);
    HideWait();
}

bool TransferManagerT::Impl::ShouldStop() const {
    // A stop marked from inside a call counts too, so that a long transfer and Wait() end
    // early instead of running on until the loop looks at the flag.
    return thread_.IsTerminated() || thread_.IsStopped() || stopRequested_.load();
}

MyExceptionPtr TransferManagerT::Impl::LastError() const {
    std::lock_guard<std::mutex> lock(lastErrorMutex_);
    return lastError_;
}

void TransferManagerT::Impl::SetLastError(MyExceptionPtr e) {
    std::lock_guard<std::mutex> lock(lastErrorMutex_);
    lastError_ = std::move(e);
}

void TransferManagerT::Impl::Execute(void* self) {
    static_cast<Impl*>(self)->Loop();
}

void TransferManagerT::Impl::Loop() {
    stopRequested_ = false;
    Notify(NtfPollStart, kPollStartText);
    TransferPtr current = NextTask();
    while (!thread_.IsTerminated()) {
        if (StopAsked()) break;
        try {
            if (!current) {
                if (tasks_.Empty()) break;
            } else if (const std::optional<bool> begun = BeginTask(); !begun) {
                // A stop that came in meanwhile must not drop a transfer that never ran.
                break;
            } else if (!*begun) {
                tasks_.PopFront();
            } else {
                if (StopAsked()) break;
                current->Run();
                // Stopped during the run: the transfer stays first, without NtfTaskEnd.
                if (StopAsked()) break;
                const std::optional<bool> again = EndTask();
                if (!again) break;
                if (*again) tasks_.PushBack(current);
                // A requeued transfer thus moves from first to last place.
                tasks_.PopFront();
                if (StopAsked()) break;
            }
        } catch (const TerminateFromThreadSignal&) {
            ConsolePrint("Опрос прерван из потоковой продцедуры.\n");
            break;
        } catch (...) {
            SetLastError(MyException::FromCurrent(MY_HERE));
            ReportError();
            if (StopAsked()) break;
            // The failed transfer is still first: it runs again unless somebody stops.
            Wait(10, false);
        }
        current = NextTask();
    }
    HideWait();
    Notify(NtfPollStop, kPollStopText);
}

TransferPtr TransferManagerT::Impl::NextTask() {
    if (ShouldStop()) return nullptr;
    tasks_.Merge();
    return tasks_.Front();
}

std::optional<bool> TransferManagerT::Impl::BeginTask() {
    if (thread_.IsTerminated() || tasks_.Empty()) return std::nullopt;
    TransferPtr t = tasks_.Front();
    MY_CHECK_TEXT(t, "curentTask");
    const bool ok = t->BeforeRun();
    if (ok) Notify(NtfTaskBegin, t->GetName());
    return ok;
}

std::optional<bool> TransferManagerT::Impl::EndTask() {
    if (thread_.IsTerminated() || tasks_.Empty()) return std::nullopt;
    TransferPtr t = tasks_.Front();
    if (!t) return std::nullopt;
    Notify(NtfTaskEnd, t->GetName());
    SetLastError(nullptr);
    HideWait();
    return t->AfterRun();
}

void TransferManagerT::Impl::ReportError() {
    const MyExceptionPtr e = LastError();
    if (thread_.IsTerminated() || !e) return;
    HideWait();
    ConsolePrintColored("\n" + FormatMyExceptionChain(e, "\n\t", "%eMsg %eLine %eFile"),
                        ConColorRed);
    Notify(NtfTaskError, e->GetMsg());
}

void TransferManagerT::Impl::Notify(uint32_t code, const std::string& text) {
    // The package lives on this stack: the call is synchronous.
    struct Call {
        Impl* self;
        uint32_t code;
        std::string text;
    } call{this, code, text};
    ::CallInUiThread(
        [](void* d) -> int32_t {
            auto* c = static_cast<Call*>(d);
            c->self->signal_.Emit(c->code, c->text);
            return 0;
        },
        &call, MY_HERE);
}

void TransferManagerT::Impl::Wait(int ms, bool showProgress) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    auto elapsed = [start] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    };
    if (!showProgress) {
        while (elapsed() < ms && !ShouldStop())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return;
    }
    ConsoleMultioutputHelper counter;
    const std::string total = MsText(ms);
    for (unsigned pass = 1;; ++pass) {
        const int64_t e = elapsed();
        if (e >= ms || ShouldStop()) break;
        if (pass % 30 == 0)
            counter.Print(Format("%s из %s %d%s", MsText(e).c_str(), total.c_str(),
                                 static_cast<int>(e * 100 / ms), "%"));
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    counter.Print("");
}

void TransferManagerT::Impl::ShowWait(const std::string& text, bool withProgress) {
    CallInUiThread(
        [&] {
            WaitWindow& w = *wait_;
            w.ResetElapsed();
            const bool visible = w.IsVisible();
            if (visible && w.Caption() == text) return;
            w.SetCaption(text);
            if (!visible) w.FitWidth();
            w.CenterAndShow();
            if (withProgress) {
                w.SetMin(0);
                w.SetMax(0);
                w.SetPosition(0);
                w.SetProgressVisible(true);
                w.SetCancelVisible(true);
            }
        },
        MY_HERE);
}

void TransferManagerT::Impl::HideWait() {
    CallInUiThread(
        [&] {
            WaitWindow& w = *wait_;
            w.Hide();
            w.SetProgressVisible(false);
            w.SetPosition(0);
            w.SetMin(0);
            w.SetMax(0);
            w.SetCancelVisible(false);
        },
        MY_HERE);
}

void TransferManagerT::Impl::SetProgress(int position, int max, int min) {
    CallInUiThread(
        [&] {
            WaitWindow& w = *wait_;
            if (!w.IsProgressVisible()) return;
            // The range first: a bar clamps or refuses a position outside its range.
            if (max != -1) w.SetMax(max);
            if (min != -1) w.SetMin(min);
            if (position == -2)
                w.SetPosition(w.Position() + 1);
            else if (position != -1)
                w.SetPosition(position);
            w.Repaint();
        },
        MY_HERE);
}

// --- TransferManagerT ---

TransferManagerT::TransferManagerT() : impl_(std::make_shared<Impl>()) {
    SetTransferControl(this);
}

TransferManagerT::~TransferManagerT() {
    // The link asks this object whether to stop until the worker has ended.
    impl_->StopWorkerQuietly();
    if (&GetTransferControl() == this) SetTransferControl(nullptr);
    impl_.reset();
}

void TransferManagerT::AddTransfer(TransferPtr transfer, bool toBack) {
    impl_->AddTransfer(std::move(transfer), toBack);
}

void TransferManagerT::AddAction(SingleFunctionAction::Function function, void* data,
                                 const std::string& name, bool toBack) {
    impl_->AddTransfer(std::make_shared<SingleFunctionAction>(function, data, name), toBack);
}

void TransferManagerT::Start() {
    impl_->Start();
}
void TransferManagerT::Stop() {
    impl_->Stop();
}
bool TransferManagerT::ShouldStop() const {
    return impl_->ShouldStop();
}
MyExceptionPtr TransferManagerT::LastError() const {
    return impl_->LastError();
}
TaskList& TransferManagerT::Tasks() {
    return impl_->tasks_;
}
TransferPtr TransferManagerT::CurrentTransfer() const {
    return impl_->tasks_.Front();
}

TransferManagerT::Connection TransferManagerT::Subscribe(Callback callback) {
    return impl_->signal_.Connect(std::move(callback));
}

TransferManagerT::SignalT& TransferManagerT::Signal() {
    return impl_->signal_;
}
bool TransferManagerT::IsPolling() const {
    return impl_->IsPolling();
}
WaitWindow& TransferManagerT::GetWaitWindow() {
    return *impl_->wait_;
}
void TransferManagerT::Wait(int ms, bool showProgress) {
    impl_->Wait(ms, showProgress);
}

void TransferManagerT::ShowWait(const std::string& text, bool withProgress) {
    impl_->ShowWait(text, withProgress);
}

void TransferManagerT::HideWait() {
    impl_->HideWait();
}

void TransferManagerT::SetProgress(int position, int max, int min) {
    impl_->SetProgress(position, max, min);
}

// --- the process's manager ---

namespace {
std::mutex g_managerMutex;
// Not a static owner: destroyed at exit it would run after the ini files it writes are gone.
// Shutdown destroys it explicitly; otherwise it lives until the process ends.
// Read without the lock: a transfer on the worker may ask for the manager during shutdown.
std::atomic<TransferManagerT*> g_manager{nullptr};
}  // namespace

TransferManagerT& GetTransferManager() {
    if (TransferManagerT* m = g_manager.load()) return *m;
    std::lock_guard<std::mutex> lock(g_managerMutex);
    if (!g_manager.load()) g_manager.store(new TransferManagerT());
    return *g_manager.load();
}

bool TransferManagerExists() {
    return g_manager.load() != nullptr;
}

void DestroyTransferManager() {
    std::lock_guard<std::mutex> lock(g_managerMutex);
    // The pointer stays valid while the destructor stops the worker.
    delete g_manager.load();
    g_manager.store(nullptr);
}

// --- TemporaryStopTransferManager ---

TemporaryStopTransferManager::TemporaryStopTransferManager(TransferManagerT& manager)
    : manager_(manager), wasRunning_(!manager.ShouldStop()) {
    manager_.Stop();
}

TemporaryStopTransferManager::~TemporaryStopTransferManager() {
    if (!wasRunning_) return;
    try {
        manager_.Start();
    } catch (...) {
        ReportCurrentException(MY_HERE, false);
    }
}
