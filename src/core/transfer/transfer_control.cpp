#include "transfer/transfer_control.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace {

class DefaultControl : public TransferControl {
public:
    bool ShouldStop() const override { return false; }
    void Wait(int ms, bool) override {
        if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
    void ShowWait(const std::string&, bool) override {}
    void HideWait() override {}
    void SetProgress(int, int, int) override {}
};

DefaultControl g_default;
std::atomic<TransferControl*> g_control{nullptr};

}  // namespace

TransferControl& GetTransferControl() {
    TransferControl* c = g_control.load();
    return c ? *c : g_default;
}

TransferControl* SetTransferControl(TransferControl* control) { return g_control.exchange(control); }
