// zelmar-sim: the virtual instrument as a program, for training and for trying settings.
#include <pthread.h>
#include <signal.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "command_line.h"
#include "frame/format.h"
#include "frame/my_exception.h"
#include "simulator.h"

using namespace zelmar::sim;

namespace {

// The program's own terminal is its console: plain lines on stdout, traces on stderr.
void Say(const std::string& text) {
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}

int Run(const ProgramOptions& o) {
    FlashImage image;
    std::vector<RefusedRange> refusals;
    if (!o.imagePath.empty()) {
        image = FlashImage::Load(o.imagePath);
        Say(Format("Образ флэш-памяти: %s\n", o.imagePath.c_str()));
    } else {
        TDateTime end = o.end;
        if (end == 0.0) end = std::floor(Now() * 1440.0) / 1440.0;
        Scenario sc;
        ScenarioByName(o.scenario, end, sc);
        image = BuildImage(sc);
        refusals = RefusedRanges(sc);
        Say(Format("Сценарий %s, последняя минутная запись %s\n", o.scenario.c_str(),
                   FormatDateTime("dd.mm.yyyy hh:nn", end).c_str()));
    }
    refusals.insert(refusals.end(), o.refusals.begin(), o.refusals.end());
    if (!o.saveImage.empty()) {
        image.Save(o.saveImage);
        Say(Format("Образ записан: %s\n", o.saveImage.c_str()));
    }
    if (o.noServe) return 0;

    // Ctrl+C and SIGTERM are taken by sigwait below; the serving thread inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    Simulator sim(std::move(image), o.sim);
    sim.SetLogSink([](const std::string& line) {
        std::fputs((line + "\n").c_str(), stderr);
        std::fflush(stderr);
    });
    for (const auto& [fault, mode] : o.faults) sim.SetFault(fault, mode);
    for (const RefusedRange& r : refusals) sim.RefuseReads(r);
    sim.Start();
    Say(Format("Порт %s: %s -> %s\n", sim.PortName().c_str(), sim.LinkPath().c_str(),
               sim.SlavePath().c_str()));
    if (o.sim.baud) Say(Format("Время передачи байтов: %u бод\n", o.sim.baud));

    int sig = 0;
    sigwait(&stopSignals, &sig);
    sim.Stop();
    const SimulatorCounters c = sim.Counters();
    Say(Format("Остановлен. Запросов %llu, плохих кадров %llu, ответов %llu\n",
               static_cast<unsigned long long>(c.frames),
               static_cast<unsigned long long>(c.badFrames),
               static_cast<unsigned long long>(c.answers)));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    ProgramOptions options;
    std::string error;
    if (!ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        std::fprintf(stderr, "zelmar-sim: %s\n\n%s", error.c_str(), UsageText().c_str());
        return 2;
    }
    if (options.help) {
        Say(UsageText());
        return 0;
    }
    try {
        return Run(options);
    } catch (const MyExceptionPtr& e) {
        std::fprintf(stderr, "zelmar-sim: %s\n", e->GetMsg().c_str());
    } catch (...) {
        std::fprintf(stderr, "zelmar-sim: %s\n",
                     MyException::FromCurrent(MY_HERE)->GetMsg().c_str());
    }
    return 1;
}
