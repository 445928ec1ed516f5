#include "frame/message_box.h"

#include <cstdio>
#include <mutex>

namespace {

std::mutex& HookMutex() {
    static std::mutex m;
    return m;
}

MessageBoxHook& Hook() {
    static MessageBoxHook hook;
    return hook;
}

int StderrBox(const std::string& text, const std::string& caption) {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    std::fflush(stderr);
    return IDOK;
}

}  // namespace

MessageBoxHook SetMessageBoxHook(MessageBoxHook hook) {
    std::lock_guard<std::mutex> lock(HookMutex());
    MessageBoxHook prev = std::move(Hook());
    Hook() = std::move(hook);
    return prev;
}

int MyMessageBox(void* owner, const std::string& text, const std::string& caption, unsigned type,
                 const std::string& /*windowName*/) {
    MessageBoxHook hook;
    {
        std::lock_guard<std::mutex> lock(HookMutex());
        hook = Hook();
    }
    if (hook) return hook(owner, text, caption, type);
    return StderrBox(text, caption);
}
