#pragma once

class ZelmarAdpt;

namespace Zelmar {

// What the instrument operations need of the control system: the frame adapter of the one
// link, and whether flash contents are shown on the console ("показывать флэш").
class DeviceLink {
public:
    virtual ~DeviceLink() = default;
    virtual ZelmarAdpt& Adapter() = 0;
    virtual bool ShowFlash() const = 0;
};

// The installed link; using the operations without one is a programming error.
DeviceLink& GetDeviceLink();
DeviceLink* SetDeviceLink(DeviceLink* link);

}  // namespace Zelmar
