#include <gtest/gtest.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "frame/console.h"
#include "frame/ini_file.h"
#include "frame/my_exception.h"
#include "frame/thread.h"
#include "frame/ui_call.h"
#include "support/test_support.h"
#include "transfer/transfer_manager.h"

// The life of the one manager of a process, from its construction to the shutdown, which
// here happens while a transfer is still running.

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

bool ServeUntil(const std::function<bool()>& cond) {
    const Clock::time_point end = Clock::now() + milliseconds(20000);
    while (!cond()) {
        if (Clock::now() > end) return false;
        ModuleImpl::Instance().ServeFor(milliseconds(5));
    }
    return true;
}

class Spinner : public SingleAction {
  public:
    Spinner() : SingleAction("ожидание") {}
    void Run() override {
        nice = ::getpriority(PRIO_PROCESS, 0);
        started = true;
        TransferControl& c = GetTransferControl();
        const Clock::time_point end = Clock::now() + milliseconds(20000);
        while (!c.ShouldStop() && Clock::now() < end) std::this_thread::sleep_for(milliseconds(1));
        sawStop = c.ShouldStop();
    }
    std::atomic<int> nice{-100};
    std::atomic<bool> started{false};
    std::atomic<bool> sawStop{false};
};

TEST(TransferManagerLifetime, ReadsThePriorityStopsAtShutdownAndWritesThePriorityBack) {
    ModuleImpl::Create();
    test::ScopedHome home("transfer-lifetime");
    test::ResetConsole();
    test::WriteFile(home.Dir() + "/config.ini", "[Трансфер]\nприоритет_второго_потока=2\n");

    ASSERT_FALSE(TransferManagerExists());
    TransferManagerT& m = GetTransferManager();
    EXPECT_TRUE(TransferManagerExists());
    EXPECT_EQ(&GetTransferControl(), &m);

    // Changed behind the manager's back: at shutdown it writes back what it read.
    ConfigIni().WriteInteger("Трансфер", "приоритет_второго_потока", 0);

    std::vector<uint32_t> codes;
    auto token = m.Subscribe([&](uint32_t code, const std::string&) { codes.push_back(code); });
    auto spinner = std::make_shared<Spinner>();
    m.AddTransfer(spinner, true);
    m.Start();
    ASSERT_TRUE(ServeUntil([&] { return spinner->started.load(); }));
    // The worker runs with the priority read at construction.
    EXPECT_EQ(spinner->nice.load(), my::NiceForPriority(2));

    DestroyTransferManager();  // the worker still runs its transfer

    EXPECT_FALSE(TransferManagerExists());
    EXPECT_TRUE(spinner->sawStop.load());
    EXPECT_EQ(codes, (std::vector<uint32_t>{3, 0, 4}));
    EXPECT_EQ(LoadWorkerPriority(ConfigIni()), 2);
    // The default control is back: it never asks to stop.
    EXPECT_FALSE(GetTransferControl().ShouldStop());
    token.reset();  // releasing a token after the signal is gone is harmless

    const std::string text = test::ConsoleText();
    EXPECT_NE(text.find("<MyTransfer::Manager.[members]>"), std::string::npos) << text;
    EXPECT_NE(text.find("<\\MyTransfer::Manager.[members]>"), std::string::npos) << text;

    try {
        GetTransferManager();
        ADD_FAILURE() << "a second manager was built";
    } catch (const MyExceptionPtr& e) {
        EXPECT_EQ(e->GetMsg(), "!wasCalledOnce");
    }
}

}  // namespace
