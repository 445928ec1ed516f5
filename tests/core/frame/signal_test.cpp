#include "frame/signal.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using my::VCLSignal::Signal;
using TextSignal = Signal<void(const std::string&)>;

std::vector<std::string> g_calls;

struct Subscriber {
    std::string name;
    void OnText(const std::string& t) { g_calls.push_back(name + ":" + t); }
    void OnOther(const std::string& t) { g_calls.push_back(name + "~" + t); }
};

class SignalTest : public ::testing::Test {
  protected:
    void SetUp() override { g_calls.clear(); }
    TextSignal signal;
    Subscriber a{"a"}, b{"b"};
};

TEST_F(SignalTest, EmitsInConnectionOrderUntilTheTokenIsReleased) {
    auto ta = signal.Connect(&a, &Subscriber::OnText);
    auto tl = signal.Connect([](const std::string& t) { g_calls.push_back("λ:" + t); });
    auto tb = signal.Connect(&b, &Subscriber::OnText);
    signal.Emit("1");
    EXPECT_EQ(g_calls, (std::vector<std::string>{"a:1", "λ:1", "b:1"}));

    g_calls.clear();
    auto copy = ta;  // the token is shared; the entry goes with its last holder
    ta.reset();
    signal.Emit("2");
    copy.reset();
    tl.reset();
    signal.Emit("3");
    EXPECT_EQ(g_calls, (std::vector<std::string>{"a:2", "λ:2", "b:2", "b:3"}));
    EXPECT_EQ(signal.Count(), 1u);
}

TEST_F(SignalTest, ReleasingOneOfTwoTokensOfTheSameCallbackRemovesBoth) {
    auto t1 = signal.Connect(&a, &Subscriber::OnText);
    auto t2 = signal.Connect(&a, &Subscriber::OnText);
    auto other = signal.Connect(&a, &Subscriber::OnOther);  // same object, other member
    auto t3 = signal.Connect(&b, &Subscriber::OnText);      // same member, other object
    signal.Emit("x");
    EXPECT_EQ(g_calls, (std::vector<std::string>{"a:x", "a:x", "a~x", "b:x"}));

    g_calls.clear();
    t1.reset();
    EXPECT_EQ(signal.Count(), 2u);
    signal.Emit("y");
    EXPECT_EQ(g_calls, (std::vector<std::string>{"a~y", "b:y"}));
    t2.reset();  // nothing left to remove
    EXPECT_EQ(signal.Count(), 2u);
}

TEST_F(SignalTest, EqualLambdasAreSeparateSubscriptions) {
    auto make = [] { return [](const std::string& t) { g_calls.push_back(t); }; };
    auto t1 = signal.Connect(make());
    auto t2 = signal.Connect(make());
    t1.reset();
    signal.Emit("z");
    EXPECT_EQ(g_calls, (std::vector<std::string>{"z"}));
}

TEST_F(SignalTest, ChangesDuringEmissionTakeEffectNextTime) {
    TextSignal::AutoPtr tb, late, self;
    auto ta = signal.Connect([&](const std::string& t) {
        g_calls.push_back("a:" + t);
        tb.reset();  // disconnects b, which this emission still calls
        if (!late)
            late = signal.Connect([](const std::string& t2) { g_calls.push_back("late:" + t2); });
    });
    tb = signal.Connect(&b, &Subscriber::OnText);
    self = signal.Connect([&](const std::string& t) {
        g_calls.push_back("self:" + t);
        self.reset();  // releases its own token while it runs
    });
    signal.Emit("1");
    EXPECT_EQ(g_calls, (std::vector<std::string>{"a:1", "b:1", "self:1"}));
    g_calls.clear();
    signal.Emit("2");
    EXPECT_EQ(g_calls, (std::vector<std::string>{"a:2", "late:2"}));
}

TEST(SignalLifetimeTest, TokenMayOutliveTheSignal) {
    Subscriber s{"s"};
    TextSignal::AutoPtr token;
    {
        TextSignal signal;
        token = signal.Connect(&s, &Subscriber::OnText);
    }
    token.reset();  // the list is gone; releasing must not touch it
    SUCCEED();
}

}  // namespace
