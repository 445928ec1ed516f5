#pragma once

#include <array>
#include <cstdint>
#include <random>
#include <string>

namespace zelmar::sim {

// What can go wrong on the line, one switch each.
enum class Fault : int {
    Silence = 0,  // the request is not answered
    BadCrc,       // one CRC byte of the answer is flipped
    Truncate,     // the answer loses its last bytes
    Split,        // the answer is written in two parts with a pause longer than the char wait
    Garbage,      // a few random bytes before the answer
    WrongNumber,  // the answer's request number is one off (with a CRC that matches it)
};
constexpr int kFaultCount = 6;

// The names used on the command line and in the log: silence, crc, truncate, split, garbage,
// number.
const char* FaultName(Fault fault);
bool FaultFromName(const std::string& name, Fault& fault);

struct FaultMode {
    enum class Kind { Off, NextRequests, Probability };
    Kind kind = Kind::Off;
    uint32_t remaining = 0;    // NextRequests: how many more requests it hits
    double probability = 0.0;  // Probability: chance per request, 0…1

    static FaultMode Off() { return {}; }
    static FaultMode Next(uint32_t n) { return {Kind::NextRequests, n, 0.0}; }
    static FaultMode WithProbability(double p) { return {Kind::Probability, 0, p}; }
    static FaultMode Always() { return WithProbability(1.0); }
    bool operator==(const FaultMode&) const = default;
};

// The fault switches with their seeded random source. Not locked: its owner serialises use.
// Every answered request consults every switch in a fixed order, so one seed gives the same
// sequence of faults.
class FaultSwitches {
  public:
    explicit FaultSwitches(uint64_t seed = 1);

    void Set(Fault fault, FaultMode mode);
    FaultMode Get(Fault fault) const { return modes_[Index(fault)]; }
    void ClearAll();
    void Reseed(uint64_t seed) { rng_.seed(seed); }

    // Whether the fault hits this request; a NextRequests switch counts down and turns off.
    bool Fire(Fault fault);
    uint8_t RandomByte();

  private:
    static size_t Index(Fault f) { return static_cast<size_t>(f); }
    std::array<FaultMode, kFaultCount> modes_{};
    std::mt19937_64 rng_;
};

}  // namespace zelmar::sim
