#pragma once

#include <string>
#include <utility>
#include <vector>

#include "faults.h"
#include "frame/date_time.h"
#include "scenario.h"
#include "simulator.h"

namespace zelmar::sim {

// The options of the zelmar-sim program.
struct ProgramOptions {
    SimulatorOptions sim;
    std::string imagePath;               // --image: serve this image file
    std::string scenario = "realistic";  // --scenario, when no image file is given
    TDateTime end = 0.0;                 // --end; 0: now, to the minute
    std::string saveImage;               // --save-image
    bool noServe = false;                // --no-serve: only write the image
    std::vector<std::pair<Fault, FaultMode>> faults;
    std::vector<RefusedRange> refusals;  // --refuse and --refuse-cell
    bool help = false;
};

// False for bad usage, with the reason in `error`. args excludes the program name.
bool ParseCommandLine(const std::vector<std::string>& args, ProgramOptions& out,
                      std::string& error);
std::string UsageText();

// "dd.mm.yyyy hh:nn" (seconds optional as ":ss").
bool ParseDateTimeText(const std::string& text, TDateTime& out);
// KIND, KIND=RATE (0…1) or KIND:N.
bool ParseFaultText(const std::string& text, Fault& fault, FaultMode& mode);

}  // namespace zelmar::sim
