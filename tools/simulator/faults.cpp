#include "faults.h"

#include "frame/my_exception.h"

namespace zelmar::sim {

namespace {
constexpr const char* kNames[kFaultCount] = {"silence", "crc",     "truncate",
                                             "split",   "garbage", "number"};
}

const char* FaultName(Fault fault) {
    const int i = static_cast<int>(fault);
    MY_CHECK(i >= 0 && i < kFaultCount);
    return kNames[i];
}

bool FaultFromName(const std::string& name, Fault& fault) {
    for (int i = 0; i < kFaultCount; ++i)
        if (name == kNames[i]) {
            fault = static_cast<Fault>(i);
            return true;
        }
    return false;
}

FaultSwitches::FaultSwitches(uint64_t seed) : rng_(seed) {}

void FaultSwitches::Set(Fault fault, FaultMode mode) {
    MY_CHECK(mode.probability >= 0.0 && mode.probability <= 1.0);
    if (mode.kind == FaultMode::Kind::NextRequests && mode.remaining == 0) mode = FaultMode::Off();
    modes_[Index(fault)] = mode;
}

void FaultSwitches::ClearAll() {
    modes_.fill(FaultMode::Off());
}

bool FaultSwitches::Fire(Fault fault) {
    FaultMode& m = modes_[Index(fault)];
    switch (m.kind) {
        case FaultMode::Kind::Off:
            return false;
        case FaultMode::Kind::NextRequests:
            if (--m.remaining == 0) m = FaultMode::Off();
            return true;
        case FaultMode::Kind::Probability:
            return std::uniform_real_distribution<double>(0.0, 1.0)(rng_) < m.probability;
    }
    return false;
}

uint8_t FaultSwitches::RandomByte() {
    return static_cast<uint8_t>(rng_() & 0xFF);
}

}  // namespace zelmar::sim
