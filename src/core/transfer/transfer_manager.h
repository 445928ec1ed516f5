#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "frame/my_exception.h"
#include "frame/signal.h"
#include "transfer/task_list.h"
#include "transfer/transfer.h"
#include "transfer/transfer_control.h"

class IniFile;
class WaitWindow;

// Runs all instrument work on one worker thread, as transfers taken one by one from a queue
// ("Опрос", polling). Tells the user interface what happens through numbered notifications,
// keeps the last failure, drives the wait window, and offers the transfers a stop check and
// an interruptible pause. One per process (GetTransferManager()).
class TransferManagerT : public TransferControl {
  public:
    enum Notification : uint32_t {
        NtfTaskBegin = 0,  // text: the transfer's name
        NtfTaskEnd = 1,    // text: the transfer's name
        NtfTaskError = 2,  // text: message of the top exception of LastError()
        NtfPollStart = 3,  // "Опрос: старт"
        NtfPollStop = 4,   // "Опрос остановлен"
    };

    using SignalT = my::VCLSignal::Signal<void(uint32_t code, const std::string& text)>;
    using Callback = SignalT::Fn;
    using Connection = SignalT::AutoPtr;

    // Creates the worker (not started) and the wait window, reads the worker's priority from
    // "config.ini", and installs itself as the process's TransferControl. A second manager in
    // one process is a programming error ("!wasCalledOnce").
    TransferManagerT();
    // Stops a still running worker, writes the priority back and drops the subscribers.
    // Never throws: a failure is reported on the console and in a message box.
    ~TransferManagerT() override;
    TransferManagerT(const TransferManagerT&) = delete;
    TransferManagerT& operator=(const TransferManagerT&) = delete;

    // --- user-interface thread ---
    // toBack: after the waiting ones; otherwise before them. Starts nothing.
    void AddTransfer(TransferPtr transfer, bool toBack);
    void AddAction(SingleFunctionAction::Function function, void* data, const std::string& name,
                   bool toBack);
    // Clears LastError() and starts the worker unless it runs already.
    void Start();
    // On the worker: unwinds the running transfer to the worker loop, which ends. On the UI
    // thread inside a call sent from the worker: marks the stop and returns at once. Otherwise:
    // stops the worker, waits for it while serving its calls, then notifies NtfPollStop.
    void Stop();
    // The failure of the last transfer run, or null.
    MyExceptionPtr LastError() const;
    // For clearing and filtering; only while the worker is stopped.
    TaskList& Tasks();
    // The transfer at the head of the queue (the one running, or the one that failed), or null.
    TransferPtr CurrentTransfer() const;
    // The callback receives (code, text) on the UI thread until the token is released.
    Connection Subscribe(Callback callback);
    template <class C>
    Connection Subscribe(C* object, void (C::*member)(uint32_t, const std::string&)) {
        return Signal().Connect(object, member);
    }
    // The worker thread runs a body.
    bool IsPolling() const;
    // The window the manager drives (UI thread only).
    WaitWindow& GetWaitWindow();

    // --- any thread ---
    // The worker is not running or a stop has been requested.
    bool ShouldStop() const override;
    // Up to ms milliseconds, returning early when ShouldStop() turns true. With showProgress a
    // counter "elapsed из total percent%" is rewritten in place on the console and erased at
    // the end.
    void Wait(int ms, bool showProgress) override;
    void ShowWait(const std::string& text, bool withProgress) override;
    void HideWait() override;
    // position −1 leaves it, −2 advances it by one; max/min −1 leave them. Only while the
    // progress bar is shown.
    void SetProgress(int position, int max, int min) override;

    class Impl;

  private:
    SignalT& Signal();
    std::shared_ptr<Impl> impl_;
};

// The process's manager, created on first use (on the UI thread, after ModuleImpl::Create()).
TransferManagerT& GetTransferManager();
bool TransferManagerExists();
// Shutdown: destroys the manager (it writes its setting). It cannot be created again.
void DestroyTransferManager();

// Scope guard for changing the queue or the link: stops the polling for its lifetime and
// starts it again afterwards if it was running.
class TemporaryStopTransferManager {
  public:
    explicit TemporaryStopTransferManager(TransferManagerT& manager = GetTransferManager());
    ~TemporaryStopTransferManager();
    TemporaryStopTransferManager(const TemporaryStopTransferManager&) = delete;
    TemporaryStopTransferManager& operator=(const TemporaryStopTransferManager&) = delete;

  private:
    TransferManagerT& manager_;
    bool wasRunning_;
};

// The worker's priority setting: "config.ini" [Трансфер] "приоритет_второго_потока",
// 0 idle … 6 time-critical, default 1 (also for a value that is not a number or out of range).
uint8_t LoadWorkerPriority(const IniFile& ini);
void SaveWorkerPriority(IniFile& ini, uint8_t priority);
// The same for destructors: a failure is reported in red on the console and in an owner-less
// message box instead of thrown. Returns whether the value was written.
bool SaveWorkerPriorityReporting(IniFile& ini, uint8_t priority) noexcept;
