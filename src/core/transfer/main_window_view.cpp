#include "transfer/main_window_view.h"

#include <atomic>

namespace {
std::atomic<MainWindowView*> g_mainWindow{nullptr};
}

MainWindowView* GetMainWindow() { return g_mainWindow.load(); }
void SetMainWindow(MainWindowView* view) { g_mainWindow.store(view); }
