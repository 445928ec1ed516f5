#pragma once

#include <memory>

#include "device/device_link.h"

class IniFile;
class ZelmarAdpt;
struct MasterSlaveIOSettings;
namespace my::RS232 {
class Port;
}

// The owner of the link to the instrument: the serial port, the master-slave exchange over it,
// the frame adapter over that, and their settings in "config.ini". Starts a connection,
// closes the port when polling ends and shows the link state in the main window. One per
// process; created after the transfer manager (it obtains the manager first).
class CtrlSysImpl : public Zelmar::DeviceLink {
public:
    CtrlSysImpl();
    ~CtrlSysImpl() override;  // writes the settings back
    CtrlSysImpl(const CtrlSysImpl&) = delete;
    CtrlSysImpl& operator=(const CtrlSysImpl&) = delete;

    // Replaces any queued initialisation by a new one at the head of the queue.
    void Connect();

    my::RS232::Port& Port();
    MasterSlaveIOSettings& LinkSettings();
    bool ShowFlash() const override;  // any thread
    void SetShowFlash(bool show);
    ZelmarAdpt& Adapter() override;  // any thread

    struct Impl;

private:
    std::shared_ptr<Impl> impl_;
};

CtrlSysImpl& GetCtrlSys();
bool CtrlSysExists();
// Shutdown: destroys the control system (it writes its settings).
void DestroyCtrlSys();
