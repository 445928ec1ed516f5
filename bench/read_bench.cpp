// A read of 500 minute records through the transfer manager against the virtual instrument
// emulating 9600 baud, default link settings. Prints seconds per record, the ratio to the
// floor (wire time + write delay + character wait per request) and the tool's CPU per record.
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdio>

#include "bench/sim_process.h"
#include "device/zelmar_arch.h"
#include "frame/console.h"
#include "frame/ui_call.h"
#include "link/master_slave_io.h"
#include "transfer/ctrl_sys.h"
#include "transfer/device_tasks.h"
#include "transfer/transfer_manager.h"

namespace {

double Cpu() {
    rusage r{};
    getrusage(RUSAGE_SELF, &r);
    return r.ru_utime.tv_sec + r.ru_stime.tv_sec + (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

// Runs the queue until the polling stops; false when a transfer failed.
bool Poll(TransferManagerT& tm) {
    bool stopped = false, failed = false;
    auto token = tm.Subscribe([&](uint32_t code, const std::string& text) {
        if (code == TransferManagerT::NtfTaskError) {
            std::fprintf(stderr, "%s\n", text.c_str());
            failed = true;
            GetTransferManager().Stop();
        }
        if (code == TransferManagerT::NtfPollStop) stopped = true;
    });
    tm.Start();
    while (!stopped) ModuleImpl::Instance().ServeFor(std::chrono::milliseconds(100));
    tm.Stop();
    return !failed;
}

}  // namespace

int main(int argc, char** argv) {
    const int records = argc > 1 ? std::atoi(argv[1]) : 500;
    const int baud = 9600;
    const std::string dir = bench::TempDir("read-bench");
    ::setenv("ZELMAR_HOME", dir.c_str(), 1);
    bench::SimProcess sim(dir, {"--baud", "9600", "--end", "11.12.2026 12:00"});
    ModuleImpl::Create();
    GUIConsole::Instance().Allocate();  // the records' lines cost what they cost in the program

    CtrlSysImpl& ctrl = GetCtrlSys();
    TransferManagerT& tm = GetTransferManager();
    ctrl.Connect();
    if (!Poll(tm)) return 1;

    std::atomic<int> requests{0};
    auto token = Zelmar::GetMinuteArch().ConnectNotify([&](const Zelmar::ArchItem&) { ++requests; });
    const TDateTime to = EncodeDateTime(2026, 12, 11, 12, 0);
    const TDateTime from = to - (records - 1) / 1440.0;
    const double c0 = Cpu();
    const auto t0 = std::chrono::steady_clock::now();
    tm.AddTransfer(std::make_shared<ReadArchiveTask>(false, from, to), false);
    if (!Poll(tm)) return 1;
    const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double cpu = Cpu() - c0;

    const MasterSlaveIOSettings& s = ctrl.LinkSettings();
    const double floorMs = bench::WireMs(11 + 38, baud) + s.writeDelayMs + s.charWaitMs;
    std::printf("read_bench: %d minute records through the transfer manager at %d baud\n", records, baud);
    std::printf("  %d requests in %.2f s: %.4f s per record\n", requests.load(), secs, secs / records);
    std::printf("  floor %.2f ms per request, ratio %.4f\n", floorMs,
                secs * 1000 / (requests.load() * floorMs));
    std::printf("  CPU %.4f s per record, %.2f %% of the time\n", cpu / records, cpu * 100 / secs);
    token.reset();
    DestroyCtrlSys();
    DestroyTransferManager();
    return 0;
}
