#pragma once

#include <string>
#include <vector>

namespace cli {

// Runs zelmar-cli with argv[1…]: 0 on success, 1 with the error's message on stderr, 2 on bad
// usage, 130 when interrupted by Ctrl+C (the polling is stopped cleanly first).
int RunCli(const std::vector<std::string>& args);

}  // namespace cli
