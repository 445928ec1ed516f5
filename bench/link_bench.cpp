// Flash reads of 32 bytes against the virtual instrument emulating 9600 baud, with the default
// link settings. Prints the milliseconds per request and the ratio to the floor: the wire time
// of request and answer, the write delay and one character wait.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>

#include "bench/sim_process.h"
#include "frame/ini_file.h"
#include "frame/ui_call.h"
#include "link/master_slave_io.h"
#include "link/rs232_port.h"
#include "link/zelmar_adpt.h"

int main(int argc, char** argv) {
    const int requests = argc > 1 ? std::atoi(argv[1]) : 100;
    const int baud = 9600;
    const std::string dir = bench::TempDir("link-bench");
    ::setenv("ZELMAR_HOME", dir.c_str(), 1);
    bench::SimProcess sim(dir, {"--baud", "9600"});
    ModuleImpl::Create();

    my::RS232::Port port;  // COM1, 9600 8N1
    MasterSlaveIOSettings settings;  // defaults: 50 ms delay, 10 ms character wait
    MasterSlaveIOImpl link(settings);
    link.SetPort(&port);
    ZelmarAdpt adapter(link);

    adapter.Request(0x42, {0x30, 0x00, 0x00, 31});  // opens the port
    rusage r0{};
    getrusage(RUSAGE_SELF, &r0);
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < requests; ++i) {
        const uint32_t addr = 0x300000 + 32u * static_cast<uint32_t>(i);
        adapter.Request(0x42, {static_cast<uint8_t>(addr >> 16), static_cast<uint8_t>(addr >> 8),
                               static_cast<uint8_t>(addr), 31});
        if (adapter.AnswerSize() != 32) {
            std::fprintf(stderr, "short answer\n");
            return 1;
        }
    }
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    rusage r1{};
    getrusage(RUSAGE_SELF, &r1);
    auto cpu = [](const rusage& r) {
        return r.ru_utime.tv_sec + r.ru_stime.tv_sec + (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
    };
    const double perRequest = ms / requests;
    const double floorMs = bench::WireMs(11 + 38, baud) + settings.writeDelayMs + settings.charWaitMs;
    std::printf("link_bench: %d flash reads of 32 bytes at %d baud\n", requests, baud);
    std::printf("  %.2f ms per request, floor %.2f ms, ratio %.4f\n", perRequest, floorMs,
                perRequest / floorMs);
    std::printf("  CPU %.3f ms per request (%.2f %% of the time)\n", (cpu(r1) - cpu(r0)) * 1000 / requests,
                (cpu(r1) - cpu(r0)) * 1000 * 100 / ms);
    return 0;
}
