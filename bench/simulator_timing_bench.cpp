// How closely the virtual instrument's byte timing follows the baud rate it emulates, and what
// the pacing costs in CPU. Prints, per baud rate: the exchange time of a 32-byte flash read
// against its wire time (11 request bytes + 38 answer bytes, 10 bits each), the spacing of
// the answer's bytes against 10/B, and the process's CPU time per second of exchanges.
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "scenario.h"
#include "simulator.h"
#include "wire_frames.h"

using namespace zelmar::sim;
using Clock = std::chrono::steady_clock;

namespace {

double CpuSeconds() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

struct Figures {
    double exchangeMs = 0, wireMs = 0, byteUs = 0, cpuPercent = 0;
};

Figures Measure(uint32_t baud, int rounds, const std::string& folder) {
    SimulatorOptions o;
    o.baud = baud;
    o.portsFolder = folder;
    o.portName = "COM19";
    Simulator sim(BuildImage(RealisticScenario(EncodeDateTime(2013, 3, 12, 10, 0))), o);
    sim.Start();
    const int fd = ::open(sim.LinkPath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(fd, TCSANOW, &t);

    std::vector<double> exchange, spacing;
    const double cpu0 = CpuSeconds();
    const Clock::time_point wall0 = Clock::now();
    for (int i = 0; i < rounds; ++i) {
        const std::vector<uint8_t> rq = BuildReadRequest(static_cast<uint8_t>(i), 0x8000, 32);
        const Clock::time_point sent = Clock::now();
        if (::write(fd, rq.data(), rq.size()) != static_cast<ssize_t>(rq.size())) break;
        size_t got = 0, firstChunk = 0;
        Clock::time_point first{}, last{};
        while (got < 38) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 2000) <= 0) break;
            uint8_t buf[64];
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n <= 0) break;
            if (got == 0) {
                first = Clock::now();
                firstChunk = static_cast<size_t>(n);
            }
            got += static_cast<size_t>(n);
            last = Clock::now();
        }
        if (got != 38) {
            std::printf("  answer %d incomplete: %zu bytes\n", i, got);
            break;
        }
        exchange.push_back(std::chrono::duration<double, std::milli>(last - sent).count());
        // The bytes after the first chunk took (last − first).
        if (firstChunk < 38)
            spacing.push_back(std::chrono::duration<double, std::micro>(last - first).count() /
                              static_cast<double>(38 - firstChunk));
    }
    const double wall = std::chrono::duration<double>(Clock::now() - wall0).count();
    const double cpu = CpuSeconds() - cpu0;
    ::close(fd);
    sim.Stop();
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v.empty() ? 0.0 : v[v.size() / 2];
    };
    Figures f;
    f.exchangeMs = median(exchange);
    f.wireMs = 49 * 10.0 / baud * 1000;
    f.byteUs = median(spacing);
    f.cpuPercent = 100.0 * cpu / wall;
    return f;
}

}  // namespace

int main() {
    char templ[] = "/tmp/zelmar-sim-bench-XXXXXX";
    const char* folder = ::mkdtemp(templ);
    if (!folder) return 1;
    std::printf("%8s %12s %10s %7s %12s %10s %7s %6s\n", "baud", "exchange ms", "wire ms", "ratio",
                "byte us", "10/B us", "ratio", "cpu %");
    for (uint32_t baud : {9600u, 19200u, 38400u, 57600u, 115200u}) {
        const int rounds = baud <= 19200 ? 60 : 150;
        const Figures f = Measure(baud, rounds, folder);
        const double byteUs = 1e7 / baud;
        std::printf("%8u %12.2f %10.2f %7.3f %12.1f %10.1f %7.3f %6.1f\n", baud, f.exchangeMs,
                    f.wireMs, f.exchangeMs / f.wireMs, f.byteUs, byteUs, f.byteUs / byteUs,
                    f.cpuPercent);
    }
    ::rmdir(folder);
    return 0;
}
