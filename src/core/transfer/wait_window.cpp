#include "transfer/wait_window.h"

#include <mutex>

namespace {
std::mutex g_mutex;
WaitWindowFactory g_factory;
}  // namespace

void SetWaitWindowFactory(WaitWindowFactory factory) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_factory = std::move(factory);
}

std::unique_ptr<WaitWindow> CreateWaitWindow() {
    WaitWindowFactory f;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        f = g_factory;
    }
    if (f) {
        if (auto w = f()) return w;
    }
    return std::make_unique<HeadlessWaitWindow>();
}
