#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "frame/my_exception.h"

namespace test {

// The exception fn raised, or null.
inline MyExceptionPtr Caught(const std::function<void()>& fn) {
    try {
        fn();
    } catch (const MyExceptionPtr& e) {
        return e;
    }
    return nullptr;
}

// A pseudo-terminal: the test plays the instrument on the master side, the port under test
// opens the slave through the ports folder.
class PtyPair {
  public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    int Master() const { return master_; }
    // A descriptor of the slave held by the test, to look at its termios.
    int Slave() const { return slave_; }
    const std::string& SlavePath() const { return slavePath_; }

    void WriteMaster(const std::vector<uint8_t>& bytes);
    // Up to n bytes; stops when nothing more arrives within quietMs.
    std::vector<uint8_t> ReadMaster(size_t n, int quietMs = 2000);
    // Everything the master can read until the line stays quiet for quietMs.
    size_t DrainMaster(int quietMs = 300);
    // True when the master has something to read within waitMs.
    bool MasterHasData(int waitMs);
    // The other side goes away, like an unplugged adapter.
    void CloseMaster();

  private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
};

// A temporary ports folder named by ZELMAR_PORTS_DIR for the lifetime of the object.
class ScopedPortsFolder {
  public:
    ScopedPortsFolder();
    ~ScopedPortsFolder();
    const std::string& Dir() const { return dir_; }
    // ports/<name> -> target (replacing an earlier link).
    void Bind(const std::string& name, const std::string& target);

  private:
    std::string dir_;
    std::string saved_;
    bool hadSaved_ = false;
};

// The slave's line speed as the kernel holds it.
struct KernelSpeed {
    bool other = false;   // BOTHER: an arbitrary rate in ospeed
    uint32_t ospeed = 0;  // bits per second
};
KernelSpeed SlaveSpeed(int fd);

// Runs fn without the privileges that override file permissions and device exclusivity:
// in a child process switched to user "nobody" when running as root, else here. Returns fn's
// result, or nothing when the switch is not possible here.
bool RunUnprivileged(const std::function<std::string()>& fn, std::string& result);

}  // namespace test
