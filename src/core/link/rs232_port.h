#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "frame/my_exception.h"
#include "frame/unique_fd.h"
#include "link/dcb.h"
#include "link/my_port.h"

namespace my::RS232 {

// Owner of an open port device.
using PortHandle = UniqueFd;

// Process-wide default line settings and timeouts, created on first use. They are the
// reading defaults of the stored settings.
struct ModuleVariablesT {
    DCB dcb = MakeDefaultDcb();
    COMMTIMEOUTS timeouts = MakeDefaultTimeouts();

    static const ModuleVariablesT& Instance();
};

// The present names among "COM1" ... "COM19", in ascending order.
std::vector<std::string> EnumComPorts();
// Opens the named port for exclusive use without waiting for carrier.
PortHandle OpenPortByName(const std::string& name);

// True when code holds any of the critical line error flags.
bool HasMaskCriticalError(uint32_t code);
// The message of the line-error exception; code must hold a critical flag.
std::string ClearCommErrorMessage(uint32_t code);
[[noreturn]] void RaiseClearCommError(FileLine where, uint32_t code);

// The driver's cumulative line error counters.
struct LineErrorCounts {
    uint32_t frame = 0;
    uint32_t overrun = 0;
    uint32_t parity = 0;
    uint32_t brk = 0;
    uint32_t bufOverrun = 0;
    bool operator==(const LineErrorCounts&) const = default;
};
// The CE_ flags of the counters that moved since `seen`.
uint32_t LineErrorFlags(const LineErrorCounts& seen, const LineErrorCounts& now);

// The serial port over a tty device. One thread at a time.
class Port : public MyPort {
  public:
    Port();
    ~Port() override;

    std::string Description() const override;
    void SaveSettings(IniFile& ini, const std::string& section) const override;
    void LoadSettings(const IniFile& ini, const std::string& section) override;
    size_t BytesAvailable() override;
    void Purge() override;

    const std::string& Name() const;
    // Stores the current settings under the new name in the per-port file, closes the
    // port, reads that section back and reopens the port when it was open.
    void SetName(const std::string& name);

    const PortSettings& Settings() const;
    // Takes all of settings; an open port gets them at once, a closed one at the next open.
    void ApplySettings(const PortSettings& settings);

  protected:
    void DoOpen() override;
    void DoClose() override;
    size_t DoWrite(const uint8_t* buffer, size_t count) override;
    size_t DoRead(uint8_t* buffer, size_t count) override;

  private:
    struct Impl;
    void ApplyToDriver();
    std::unique_ptr<Impl> impl_;
};

}  // namespace my::RS232
