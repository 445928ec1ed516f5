#include "cli/cli_app.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>

#include "cli/cli_options.h"
#include "cli/cli_output.h"
#include "cli/stderr_wait_window.h"
#include "device/zelmar_arch.h"
#include "device/zelmar_hrd.h"
#include "frame/console.h"
#include "frame/format.h"
#include "frame/startup.h"
#include "frame/ui_call.h"
#include "link/port_names.h"
#include "link/rs232_port.h"
#include "transfer/ctrl_sys.h"
#include "transfer/device_tasks.h"
#include "transfer/main_window_view.h"
#include "transfer/transfer_manager.h"

namespace cli {

namespace {

// The posted-work slot that carries Ctrl+C and SIGTERM into the UI thread (the console's own).
constexpr int kInterruptSlot = 0;

void OnSignal(int) { ModuleImpl::PostFromSignalHandler(kInterruptSlot); }

void Out(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void Err(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

// A transfer that runs a function on the worker.
class Action : public SingleAction {
public:
    Action(std::string name, std::function<void()> f) : SingleAction(std::move(name)), f_(std::move(f)) {}
    void Run() override { f_(); }

private:
    std::function<void()> f_;
};

// The main-window view of the tool: keeps the context table, prints the results of reads.
class CliView : public MainWindowView {
public:
    void ClearContextCells() override { table.ClearData(); }
    void SetContextCell(int col, int row, const std::string& text) override { table.Set(col, row, text); }
    void SetStatusText(int, const std::string&) override {}
    void SetStatusFontColor(int, uint32_t) override {}
    void SetConnectionText(const std::string&, uint32_t) override {}
    void ShowHourArchive(const ArchReadResult& r) override { Show(Zelmar::GetHourArch(), r, "часовой"); }
    void ShowMinuteArchive(const ArchReadResult& r) override {
        Show(Zelmar::GetMinuteArch(), r, "минутной");
    }

    ContextTable table;
    std::string failure;

private:
    void Show(const Zelmar::ArchiveImpl& arch, const ArchReadResult& r, const char* kind) {
        if (r.first == -1 || r.last == -1) {
            failure = Format("Не найден архив %s истории %s", kind,
                             Zelmar::FormatArchRange(r.tFrom, r.tTo).c_str());
            return;
        }
        Zelmar::ArchMapT records;
        CollectRead(arch, r.first, r.last, r.tFrom, r.tTo, records);
        Out(ReadCsv(records, r.tFrom, r.tTo));
    }
};

std::string PortsList() {
    std::string out;
    for (const std::string& name : my::RS232::EnumComPorts()) {
        char target[4096];
        const ssize_t n = ::readlink(PortPath(name).c_str(), target, sizeof target - 1);
        out += name;
        if (n > 0) out += "\t" + std::string(target, static_cast<size_t>(n));
        out += "\n";
    }
    return out;
}

class CliRun {
public:
    explicit CliRun(const Options& o) : o_(o) {}

    int exitCode = 0;

    StartupSlots Slots() {
        StartupSlots s;
        s.obtainControlSystem = [this] {
            if (o_.trace) GUIConsole::Instance().SetEchoFd(STDERR_FILENO);
            SetWaitWindowFactory([] { return std::make_unique<StderrWaitWindow>(); });
            if (o_.command != Command::Ports) GetCtrlSys();
        };
        s.obtainTransferManager = [this] {
            if (o_.command != Command::Ports) GetTransferManager();
        };
        s.runApplication = [this] { Run(); };
        s.stopPolling = [] {
            if (TransferManagerExists()) GetTransferManager().Stop();
        };
        s.destroyMainWindow = [] { SetMainWindow(nullptr); };
        s.destroyControlSystem = [this] {
            if (!CtrlSysExists()) return;
            // A port named on the command line is for this run only.
            if (!savedPort_.empty()) GetCtrlSys().Port().SetName(savedPort_);
            DestroyCtrlSys();
        };
        s.destroyTransferManager = [] {
            if (TransferManagerExists()) DestroyTransferManager();
        };
        return s;
    }

private:
    void Run() {
        if (o_.command == Command::Ports) {
            Out(PortsList());
            return;
        }
        TransferManagerT& tm = GetTransferManager();
        SetMainWindow(&view_);
        if (!o_.port.empty() && o_.port != GetCtrlSys().Port().Name()) {
            savedPort_ = GetCtrlSys().Port().Name();
            TemporaryStopTransferManager pause(tm);
            GetCtrlSys().Port().SetName(o_.port);
        }
        std::atomic<bool> interrupted{false};
        ModuleImpl::Instance().SetPostedHandler(kInterruptSlot, [&] {
            ConsolePrint("\n\t\t---Ctrl+Break pressed!---\n");
            interrupted = true;
            GetTransferManager().Stop();
        });
        struct sigaction sa {};
        sa.sa_handler = OnSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        sigaction(SIGINT, &sa, nullptr);
        sigaction(SIGTERM, &sa, nullptr);

        tm.Tasks().Clear();
        Queue(tm);  // before subscribing: queuing may stop the (idle) polling, which notifies

        bool stopped = false;
        std::string error;
        auto token = tm.Subscribe([&](uint32_t code, const std::string& text) {
            if (code == TransferManagerT::NtfTaskError) {
                // As the main window does: a failed transfer ends the polling.
                error = text;
                GetTransferManager().Stop();
            } else if (code == TransferManagerT::NtfPollStop) {
                stopped = true;
            }
        });

        tm.Start();
        while (!stopped) ModuleImpl::Instance().ServeFor(std::chrono::milliseconds(200));
        tm.Stop();
        token.reset();

        if (interrupted) {
            Err("Прервано пользователем.\n");
            exitCode = 130;
        } else if (!error.empty()) {
            Err(error + "\n");
            exitCode = 1;
        } else if (!view_.failure.empty()) {
            Err(view_.failure + "\n");
            exitCode = 1;
        }
    }

    void Queue(TransferManagerT& tm) {
        switch (o_.command) {
            case Command::Flash: {
                const uint32_t addr = o_.addr;
                const int count = o_.count;
                tm.AddTransfer(std::make_shared<Action>("Чтение флэш", [addr, count] {
                                   std::vector<uint8_t> buf(static_cast<size_t>(count));
                                   Zelmar::ReadFlash(addr, buf.data(), count);
                                   CallInUiThread([&] { Out(FlashDump(addr, buf)); }, MY_HERE);
                               }),
                               true);
                break;
            }
            case Command::Clock:
                tm.AddTransfer(std::make_shared<Action>("Корректировка даты и времени", [] {
                                   const TDateTime t = Zelmar::SetDeviceClock();
                                   CallInUiThread(
                                       [&] { Out(FormatDateTime("dd.mm.yyyy hh:nn:ss", t) + "\n"); },
                                       MY_HERE);
                               }),
                               true);
                break;
            case Command::Info:
                GetCtrlSys().Connect();
                tm.AddTransfer(std::make_shared<Action>("Вывод контекста", [this] {
                                   CallInUiThread(
                                       [&] {
                                           Out(view_.table.Lines());
                                           Out(BoundsLine(Zelmar::GetHourArch()));
                                           Out(BoundsLine(Zelmar::GetMinuteArch()));
                                       },
                                       MY_HERE);
                               }),
                               true);
                break;
            case Command::Read:
                tm.AddTransfer(std::make_shared<ReadArchiveTask>(o_.hour, o_.from, o_.to), false);
                break;
            default:
                break;
        }
    }

    const Options& o_;
    CliView view_;
    std::string savedPort_;
};

}  // namespace

int RunCli(const std::vector<std::string>& args) {
    Options o;
    std::string error;
    if (!ParseOptions(args, o, error)) {
        Err(error + "\n" + UsageText());
        return 2;
    }
    if (o.command == Command::Help) {
        Out(UsageText());
        return 0;
    }
    CliRun run(o);
    RunApplication(run.Slots());
    // A failure that escaped start-up or shutdown was reported by the start-up code.
    return run.exitCode;
}

}  // namespace cli
