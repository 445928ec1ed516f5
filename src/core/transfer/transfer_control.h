#pragma once

#include <string>

// What the link, the instrument operations and the archives need of the transfer manager:
// the stop check, the interruptible pause and the wait window. The transfer manager
// implements it; until one is installed a default answers "never stop", sleeps for Wait and
// ignores the wait window.
class TransferControl {
public:
    virtual ~TransferControl() = default;
    // True when the worker is not running or a stop has been requested.
    virtual bool ShouldStop() const = 0;
    // Pauses up to ms milliseconds, returning early when ShouldStop() becomes true.
    virtual void Wait(int ms, bool showProgress) = 0;
    virtual void ShowWait(const std::string& text, bool withProgress) = 0;
    virtual void HideWait() = 0;
    // position −1 leaves it, −2 advances it by one; max/min −1 leave them.
    virtual void SetProgress(int position, int max, int min) = 0;
};

TransferControl& GetTransferControl();
// Installs the control the core uses (null restores the default); returns the previous one.
TransferControl* SetTransferControl(TransferControl* control);
