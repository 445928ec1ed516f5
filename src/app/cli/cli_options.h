#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "frame/date_time.h"

// The command line of zelmar-cli:
//   zelmar-cli [--port COMn] [--trace] ports
//   zelmar-cli [--port COMn] [--trace] flash ADDR COUNT
//   zelmar-cli [--port COMn] [--trace] clock
//   zelmar-cli [--port COMn] [--trace] info
//   zelmar-cli [--port COMn] [--trace] read hour|minute FROM TO
namespace cli {

enum class Command { Ports, Flash, Clock, Info, Read, Help };

struct Options {
    Command command = Command::Help;
    std::string port;  // empty: the configured port
    bool trace = false;
    uint32_t addr = 0;
    int count = 0;
    bool hour = false;
    TDateTime from = 0;
    TDateTime to = 0;
};

// Parses argv[1…]; false with a message (in the program's words) on bad usage.
bool ParseOptions(const std::vector<std::string>& args, Options& out, std::string& error);
// "dd.mm.yyyy hh:nn" exactly.
bool ParseDateTimeArg(const std::string& text, TDateTime& out);
std::string UsageText();

}  // namespace cli
