#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "frame/my_exception.h"
#include "frame/thread.h"
#include "frame/ui_call.h"

namespace {

using namespace std::chrono_literals;

// The dispatcher takes the thread that creates it for the UI thread: the test's main thread.
class UiThreadEnvironment : public ::testing::Environment {
  public:
    void SetUp() override { ModuleImpl::Create(); }
};
[[maybe_unused]] ::testing::Environment* const g_env =
    ::testing::AddGlobalTestEnvironment(new UiThreadEnvironment);

// Serves UI calls until cond holds; a hang here means a call never arrived.
template <class Cond>
void ServeUntil(Cond cond) {
    while (!cond()) ModuleImpl::Instance().ServeFor(5ms);
}

struct Worker {
    std::atomic<int> runs{0};
    std::atomic<bool> inBody{false};
    my::Thread* self = nullptr;

    static void UntilStopped(void* p) {
        auto* w = static_cast<Worker*>(p);
        w->runs.fetch_add(1);
        w->inBody = true;
        while (!w->self->IsTerminated()) std::this_thread::sleep_for(1ms);
        w->inBody = false;
    }
};

TEST(ThreadTest, StartTwiceRunsOneBody) {
    Worker w;
    my::Thread t(&Worker::UntilStopped, &w);
    w.self = &t;
    EXPECT_TRUE(t.IsStopped());
    EXPECT_TRUE(t.IsTerminated());
    t.Start();
    t.Start();
    EXPECT_FALSE(t.IsStopped());
    EXPECT_FALSE(t.IsTerminated());
    while (!w.inBody) std::this_thread::sleep_for(1ms);
    t.Start();
    t.Stop();
    EXPECT_EQ(w.runs.load(), 1);
    EXPECT_FALSE(w.inBody.load());
    EXPECT_TRUE(t.IsStopped());
    EXPECT_TRUE(t.IsTerminated());

    // Idle again: a new start runs the body once more, on a new thread.
    t.Start();
    t.Stop();
    EXPECT_EQ(w.runs.load(), 2);
}

TEST(ThreadTest, StopOnIdleReturnsAtOnce) {
    Worker w;
    my::Thread t(&Worker::UntilStopped, &w);
    w.self = &t;
    t.Stop();
    t.Stop();
    EXPECT_EQ(w.runs.load(), 0);
    EXPECT_TRUE(t.IsStopped());
}

TEST(ThreadTest, BodyThatEndsOnItsOwnAndOneThatThrows) {
    static std::atomic<int> ran{0};
    ran = 0;
    my::Thread quick([](void*) { ran.fetch_add(1); }, nullptr);
    quick.Start();
    while (!quick.IsStopped()) std::this_thread::sleep_for(1ms);
    EXPECT_TRUE(quick.IsTerminated());
    quick.Stop();

    my::Thread failing(
        [](void*) {
            ran.fetch_add(1);
            Raise<MyException>(MY_HERE, "сбой в потоке");
        },
        nullptr);
    failing.Start();
    failing.Stop();
    EXPECT_TRUE(failing.IsStopped());
    failing.Start();  // still restartable after a failure
    failing.Stop();
    EXPECT_EQ(ran.load(), 3);
}

TEST(ThreadTest, DestroyingARunningThreadEndsIt) {
    Worker w;
    {
        my::Thread t(&Worker::UntilStopped, &w);
        w.self = &t;
        t.Start();
        while (!w.inBody) std::this_thread::sleep_for(1ms);
    }
    EXPECT_FALSE(w.inBody.load());
}

TEST(ThreadTest, PriorityIsKeptAndClamped) {
    my::Thread t([](void*) {}, nullptr, 2);
    EXPECT_EQ(t.GetPriority(), 2);
    t.SetPriority(9);
    EXPECT_EQ(t.GetPriority(), 6);
    EXPECT_LT(my::NiceForPriority(4), my::NiceForPriority(3));
    EXPECT_EQ(my::NiceForPriority(3), 0);
    EXPECT_GT(my::NiceForPriority(0), my::NiceForPriority(1));
}

TEST(UiCallTest, OnTheUiThreadTheCallRunsDirectly) {
    ASSERT_TRUE(ModuleImpl::Instance().IsUiThread());
    int value = 20;
    const int32_t r =
        CallInUiThread([](void* d) { return *static_cast<int*>(d) + 1; }, &value, MY_HERE);
    EXPECT_EQ(r, 21);
    EXPECT_FALSE(ModuleImpl::Instance().IsServingCall());
    // Failures propagate to the caller instead of ending the process.
    EXPECT_THROW(CallInUiThread([]() -> int { Raise<MyException>(MY_HERE, "x"); }, MY_HERE),
                 MyExceptionPtr);
    EXPECT_EQ(ModuleImpl::Instance().ServePendingCalls(), 0u);
}

TEST(UiCallTest, WorkerCallRunsOnTheUiThreadAndReturnsItsResult) {
    const std::thread::id ui = std::this_thread::get_id();
    std::atomic<bool> done{false};
    std::thread::id ranOn;
    bool servingInside = false;
    std::string result;
    FileLine where;
    std::thread worker([&] {
        where = MY_HERE;
        result = CallInUiThread(
            [&] {
                ranOn = std::this_thread::get_id();
                servingInside = ModuleImpl::Instance().IsServingCall();
                return std::string("с UI-потока");
            },
            where);
        done = true;
    });
    ServeUntil([&] { return done.load(); });
    worker.join();
    EXPECT_EQ(ranOn, ui);
    EXPECT_TRUE(servingInside);
    EXPECT_FALSE(ModuleImpl::Instance().IsServingCall());
    EXPECT_EQ(result, "с UI-потока");
    EXPECT_EQ(ModuleImpl::Instance().LastWhere().line, where.line);
    EXPECT_EQ(ModuleImpl::Instance().LastWhere().file, "thread_ui_test.cpp");
}

TEST(UiCallTest, ServeForTimesOutWithoutWork) {
    EXPECT_FALSE(ModuleImpl::Instance().ServeFor(1ms));
    static std::atomic<int> posted{0};
    ModuleImpl::Instance().SetPostedHandler(7, [] { posted.fetch_add(1); });
    ModuleImpl::PostFromSignalHandler(7);
    ModuleImpl::PostFromSignalHandler(7);
    EXPECT_TRUE(ModuleImpl::Instance().ServeFor(100ms));
    EXPECT_EQ(posted.load(), 1);
    ModuleImpl::Instance().SetPostedHandler(7, nullptr);
}

// The worker is blocked in a call into the UI thread when the UI thread asks it to stop: the
// wait must serve that call, or neither thread can go on.
struct CallingWorker {
    my::Thread* self = nullptr;
    std::atomic<bool> aboutToCall{false};
    std::atomic<int> served{0};
    std::atomic<int> returned{0};
    std::thread::id uiThread;

    static void Body(void* p) {
        auto* w = static_cast<CallingWorker*>(p);
        do {
            w->aboutToCall = true;
            const int32_t r = CallInUiThread(
                [](void* d) -> int32_t {
                    auto* cw = static_cast<CallingWorker*>(d);
                    if (std::this_thread::get_id() != cw->uiThread) return -1;
                    return cw->served.fetch_add(1) + 1;
                },
                w, MY_HERE);
            if (r > 0) w->returned.fetch_add(1);
        } while (!w->self->IsTerminated());
    }
};

TEST(UiCallTest, StopFromUiThreadServesTheBlockedWorker) {
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        CallingWorker w;
        w.uiThread = std::this_thread::get_id();
        my::Thread t(&CallingWorker::Body, &w);
        w.self = &t;
        t.Start();
        while (!w.aboutToCall) std::this_thread::sleep_for(100us);
        if (round % 2) std::this_thread::sleep_for(2ms);  // surely blocked in the call
        t.Stop();
        EXPECT_TRUE(t.IsStopped());
        EXPECT_GE(w.served.load(), 1);
        EXPECT_EQ(w.returned.load(), w.served.load());
    }
}

// A failure inside a call sent from another thread cannot travel back to the blocked worker:
// the UI thread reports it and ends the process.
TEST(UiCallDeathTest, FailureInACrossThreadCallEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto scenario = [] {
        std::thread worker([] {
            CallInUiThread(
                []() -> int {
                    Raise<MyNoAnswerException>(FileLine{56, "codec.cpp"}, "нет ответа");
                },
                FileLine{1234, "worker.cpp"});
        });
        worker.detach();
        for (;;) ModuleImpl::Instance().ServeFor(10ms);
    };
    // Without a GUI the box goes to stderr as "caption: text".
    EXPECT_EXIT(scenario(), ::testing::ExitedWithCode(1),
                "ModuleImpl::WndProc: 1234:worker\\.cpp\nнет ответа codec\\.cpp 56\n");
}

}  // namespace
