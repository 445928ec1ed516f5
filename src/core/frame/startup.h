#pragma once

#include <functional>
#include <string>
#include <vector>

// The fixed order in which the process-wide objects come and go. The desktop program and the
// command-line tool both run through here; each slot is filled by the piece that owns the
// object, and an empty slot leaves its place in the order empty.
struct StartupSlots {
    std::function<void()> clearMainWindow;         // step 2: the main-window pointer is null
    std::function<void()> obtainControlSystem;     // step 4.1 (creates the transfer manager)
    std::function<void()> obtainTransferManager;   // step 4.2
    std::function<void()> runApplication;          // step 4.3: until the main window closes
    std::function<void()> stopPolling;             // shutdown 1
    std::function<void()> destroyMainWindow;       // shutdown 2
    std::function<void()> destroyControlSystem;    // shutdown 3
    std::function<void()> destroyTransferManager;  // shutdown 4
};

// Runs start-up, the application and shutdown; whatever happens, the console reaches the log.
// A failure that escapes start-up or shutdown is reported on the console and in an owner-less
// box captioned "ЗЕЛМАР". Returns 0.
int RunApplication(const StartupSlots& slots);

// The application's exception display for failures that escape the message loop: shown and
// then start-up goes on with shutdown. The GUI may install its own.
using ApplicationExceptionDisplay = std::function<void(const std::string& message)>;
void SetApplicationExceptionDisplay(ApplicationExceptionDisplay display);

// The command-line words of the process (word 0 is the program path).
class MyParamStrT {
public:
    static MyParamStrT& Instance();
    // Exact, case-sensitive comparison over all words including word 0.
    bool Contains(const std::string& word) const;
    const std::vector<std::string>& Words() const { return words_; }
    // Replaces the words (the process's own are read from /proc/self/cmdline).
    void SetWords(std::vector<std::string> words) { words_ = std::move(words); }

private:
    MyParamStrT();
    std::vector<std::string> words_;
};
