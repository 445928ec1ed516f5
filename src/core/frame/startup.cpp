#include "frame/startup.h"

#include <fstream>
#include <iterator>
#include <mutex>

#include "frame/console.h"
#include "frame/message_box.h"
#include "frame/my_exception.h"
#include "frame/ui_call.h"

namespace {

std::mutex g_displayMutex;
ApplicationExceptionDisplay g_display;

void ShowApplicationException(const std::string& message) {
    ApplicationExceptionDisplay d;
    {
        std::lock_guard<std::mutex> lock(g_displayMutex);
        d = g_display;
    }
    if (d)
        d(message);
    else
        MyMessageBox(nullptr, message, "ЗЕЛМАР", MB_ICONERROR);
}

void Run(const std::function<void()>& slot) {
    if (slot) slot();
}

}  // namespace

void SetApplicationExceptionDisplay(ApplicationExceptionDisplay display) {
    std::lock_guard<std::mutex> lock(g_displayMutex);
    g_display = std::move(display);
}

int RunApplication(const StartupSlots& slots) {
    ModuleImpl::Create();
    Run(slots.clearMainWindow);
    GUIConsole::Instance().Allocate();
    try {
        Run(slots.obtainControlSystem);
        Run(slots.obtainTransferManager);
        try {
            Run(slots.runApplication);
        } catch (...) {
            // Shown like any failure of the message loop; shutdown follows as after a normal
            // end. The message is kept: an empty box would tell the user nothing.
            MyExceptionPtr e = MyException::FromCurrent(MY_HERE);
            ShowApplicationException(e->GetMsg());
        }
        Run(slots.stopPolling);
        Run(slots.destroyMainWindow);
        Run(slots.destroyControlSystem);
        Run(slots.destroyTransferManager);
    } catch (...) {
        MyExceptionPtr e = MyException::FromCurrent(MY_HERE);
        const std::string text = FormatMyExceptionChain(e, "\n\t", "%eFile:%eLine\n%eMsg");
        ConsolePrint("Исключение! Выход из приложения!\n" + text + "\n");
        MyMessageBox(nullptr, text, "ЗЕЛМАР", MB_ICONERROR | MB_SYSTEMMODAL);
    }
    ConsolePrint("сохраняю содержимое консоли в логфайл\n");
    GUIConsole::Instance().DumpToLog();
    GUIConsole::Instance().Free();
    return 0;
}

MyParamStrT::MyParamStrT() {
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t start = 0;
    while (start < all.size()) {
        size_t end = all.find('\0', start);
        if (end == std::string::npos) end = all.size();
        if (end == start) break;  // the list ends at the first empty word
        words_.push_back(all.substr(start, end - start));
        start = end + 1;
    }
}

MyParamStrT& MyParamStrT::Instance() {
    static MyParamStrT params;
    return params;
}

bool MyParamStrT::Contains(const std::string& word) const {
    for (const std::string& w : words_)
        if (w == word) return true;
    return false;
}
