#include "device/device_link.h"

#include <atomic>

#include "frame/my_exception.h"

namespace Zelmar {

namespace {
std::atomic<DeviceLink*> g_link{nullptr};
}

DeviceLink& GetDeviceLink() {
    DeviceLink* l = g_link.load();
    MY_CHECK_TEXT(l, "deviceLink");
    return *l;
}

DeviceLink* SetDeviceLink(DeviceLink* link) { return g_link.exchange(link); }

}  // namespace Zelmar
