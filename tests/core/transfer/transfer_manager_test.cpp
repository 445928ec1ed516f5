#include "transfer/transfer_manager.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "frame/console.h"
#include "frame/ini_file.h"
#include "frame/my_exception.h"
#include "frame/ui_call.h"
#include "support/test_support.h"
#include "transfer/wait_window.h"

// The whole program shares one manager (a second one is refused), created on the main thread,
// which plays the user-interface thread: while the worker runs, the test serves its calls.

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const std::string kStart = "Опрос: старт";
const std::string kStop = "Опрос остановлен";

// Serves the worker's calls until cond holds or a generous deadline passes.
bool ServeUntil(const std::function<bool()>& cond, milliseconds limit = milliseconds(20000)) {
    const Clock::time_point end = Clock::now() + limit;
    while (!cond()) {
        if (Clock::now() > end) return false;
        ModuleImpl::Instance().ServeFor(milliseconds(5));
    }
    return true;
}

// A wait window that counts what the manager does with it and notes calls off the UI thread.
class RecordingWaitWindow : public HeadlessWaitWindow {
  public:
    void SetCaption(const std::string& t) override {
        Note();
        HeadlessWaitWindow::SetCaption(t);
    }
    void ResetElapsed() override {
        Note();
        ++resets;
        HeadlessWaitWindow::ResetElapsed();
    }
    void FitWidth() override {
        Note();
        ++fits;
    }
    void CenterAndShow() override {
        Note();
        ++shows;
        HeadlessWaitWindow::CenterAndShow();
    }
    void Hide() override {
        Note();
        HeadlessWaitWindow::Hide();
    }
    void Repaint() override {
        Note();
        ++repaints;
    }
    void SetProgressVisible(bool v) override {
        Note();
        HeadlessWaitWindow::SetProgressVisible(v);
    }
    void SetPosition(int v) override {
        Note();
        HeadlessWaitWindow::SetPosition(v);
    }
    void SetMin(int v) override {
        Note();
        HeadlessWaitWindow::SetMin(v);
    }
    void SetMax(int v) override {
        Note();
        HeadlessWaitWindow::SetMax(v);
    }
    void SetCancelVisible(bool v) override {
        Note();
        HeadlessWaitWindow::SetCancelVisible(v);
    }
    void ResetCounts() { resets = fits = shows = repaints = 0; }

    int resets = 0, fits = 0, shows = 0, repaints = 0;
    std::atomic<bool> offUiThread{false};

  private:
    void Note() {
        if (!ModuleImpl::Instance().IsUiThread()) offUiThread = true;
    }
};

TransferManagerT& Manager() {
    static TransferManagerT* m = [] {
        ModuleImpl::Create();
        static test::ScopedHome home("transfer-manager");
        test::ResetConsole();
        SetWaitWindowFactory([] { return std::make_unique<RecordingWaitWindow>(); });
        return &GetTransferManager();
    }();
    return *m;
}

// Shutdown destroys the manager, which also joins the last worker thread.
class ManagerShutdown : public ::testing::Environment {
  public:
    void TearDown() override {
        if (TransferManagerExists()) DestroyTransferManager();
    }
};
[[maybe_unused]] ::testing::Environment* const g_shutdown =
    ::testing::AddGlobalTestEnvironment(new ManagerShutdown);

RecordingWaitWindow& Window() {
    return dynamic_cast<RecordingWaitWindow&>(Manager().GetWaitWindow());
}

// What the transfers did, in order; written on the worker, read after it has ended.
class Journal {
  public:
    void Add(const std::string& s) {
        std::lock_guard<std::mutex> lock(mutex_);
        entries_.push_back(s);
    }
    std::vector<std::string> Entries() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return entries_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> entries_;
};

class Probe : public NamedTransfer {
  public:
    Probe(std::string name, Journal& journal, std::function<void()> body = {},
          bool beforeRun = true, bool afterRun = false)
        : NamedTransfer(std::move(name)),
          journal_(journal),
          body_(std::move(body)),
          before_(beforeRun),
          after_(afterRun) {}
    bool BeforeRun() override { return before_; }
    bool AfterRun() override { return after_; }
    void Run() override {
        journal_.Add(GetName());
        if (body_) body_();
    }

  private:
    Journal& journal_;
    std::function<void()> body_;
    bool before_, after_;
};

struct Event {
    uint32_t code;
    std::string text;
    bool operator==(const Event&) const = default;
};

void PrintTo(const Event& e, std::ostream* os) {
    *os << "{" << e.code << ", " << e.text << "}";
}

std::vector<std::string> Names(const TaskList::List& l) {
    std::vector<std::string> out;
    for (const TransferPtr& t : l) out.push_back(t->GetName());
    return out;
}

using NameList = std::vector<std::string>;
using EventList = std::vector<Event>;

// "hh:nn:ss:zzz из <total> <percent>%": gives the percent, or -1 when the row is not a counter.
int CounterPercent(const std::string& row, const std::string& total) {
    const std::string pattern = "dd:dd:dd:ddd";
    if (row.size() < pattern.size()) return -1;
    for (size_t i = 0; i < pattern.size(); ++i)
        if (pattern[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(row[i]))
                              : row[i] != pattern[i])
            return -1;
    const std::string middle = " из " + total + " ";
    if (row.compare(pattern.size(), middle.size(), middle) != 0) return -1;
    const std::string tail = row.substr(pattern.size() + middle.size());
    if (tail.size() < 2 || tail.size() > 4 || tail.back() != '%') return -1;
    int percent = 0;
    for (size_t i = 0; i + 1 < tail.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(tail[i]))) return -1;
        percent = percent * 10 + (tail[i] - '0');
    }
    return percent;
}

// Spins until the manager asks it to stop (with a deadline so a fault fails, not hangs).
bool SpinUntilStop(TransferManagerT& m) {
    const Clock::time_point end = Clock::now() + milliseconds(20000);
    while (!m.ShouldStop() && Clock::now() < end) std::this_thread::sleep_for(milliseconds(1));
    return m.ShouldStop();
}

class TransferManagerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (m.IsPolling()) m.Stop();
        m.Tasks().Clear();
        m.HideWait();
        Window().ResetCounts();
        test::ResetConsole();
        token_ = m.Subscribe([this](uint32_t code, const std::string& text) {
            EXPECT_TRUE(ModuleImpl::Instance().IsUiThread());
            events.push_back({code, text});
            if (onEvent) onEvent(code, text);
        });
    }
    void TearDown() override {
        onEvent = nullptr;
        if (m.IsPolling()) m.Stop();
        token_.reset();
        m.Tasks().Clear();
        EXPECT_FALSE(Window().offUiThread.load());
    }

    // Starts the polling and serves the worker until it has ended.
    void RunToEnd() {
        m.Start();
        ASSERT_TRUE(ServeUntil([this] { return !m.IsPolling(); }));
    }
    bool HasEvent(uint32_t code, const std::string& text) const {
        for (const Event& e : events)
            if (e.code == code && e.text == text) return true;
        return false;
    }
    TransferPtr Add(const std::string& name, bool toBack, std::function<void()> body = {},
                    bool beforeRun = true, bool afterRun = false) {
        auto t = std::make_shared<Probe>(name, journal, std::move(body), beforeRun, afterRun);
        m.AddTransfer(t, toBack);
        return t;
    }

    TransferManagerT& m = Manager();
    Journal journal;
    EventList events;
    std::function<void(uint32_t, const std::string&)> onEvent;

  private:
    TransferManagerT::Connection token_;
};

// --- the queue ---

TEST_F(TransferManagerTest, RunsFrontAddsNewestFirstThenTheQueueThenBackAddsOldestFirst) {
    m.Tasks().PushBack(std::make_shared<Probe>("X", journal));
    Add("A", false);
    Add("B", false);
    Add("C", true);
    Add("D", true);
    RunToEnd();
    EXPECT_EQ(journal.Entries(), (NameList{"B", "A", "X", "C", "D"}));
    EXPECT_EQ(events, (EventList{{3, kStart},
                                 {0, "B"},
                                 {1, "B"},
                                 {0, "A"},
                                 {1, "A"},
                                 {0, "X"},
                                 {1, "X"},
                                 {0, "C"},
                                 {1, "C"},
                                 {0, "D"},
                                 {1, "D"},
                                 {4, kStop}}));
    EXPECT_TRUE(m.Tasks().Empty());
}

TEST_F(TransferManagerTest, AddActionRunsTheFunctionWithItsDataOnce) {
    struct Data {
        std::atomic<int> calls{0};
        std::thread::id thread;
    } data;
    m.AddAction(
        [](void* d) {
            auto* p = static_cast<Data*>(d);
            p->calls.fetch_add(1);
            p->thread = std::this_thread::get_id();
        },
        &data, "действие", true);
    RunToEnd();
    EXPECT_EQ(data.calls.load(), 1);
    EXPECT_NE(data.thread, std::this_thread::get_id());
    EXPECT_EQ(events, (EventList{{3, kStart}, {0, "действие"}, {1, "действие"}, {4, kStop}}));
    EXPECT_TRUE(m.Tasks().Empty());
}

TEST_F(TransferManagerTest, StartOnAnEmptyQueueOnlyStartsAndStops) {
    RunToEnd();
    EXPECT_EQ(events, (EventList{{3, kStart}, {4, kStop}}));
}

TEST_F(TransferManagerTest, TransferRefusingToRunIsDroppedWithoutNotification) {
    Add("N", true, {}, /*beforeRun=*/false);
    Add("Y", true);
    RunToEnd();
    EXPECT_EQ(journal.Entries(), (NameList{"Y"}));
    EXPECT_EQ(events, (EventList{{3, kStart}, {0, "Y"}, {1, "Y"}, {4, kStop}}));
    EXPECT_TRUE(m.Tasks().Empty());
}

TEST_F(TransferManagerTest, RequeuedTransfersRunInRotationUntilStopped) {
    Add("R1", true, {}, true, /*afterRun=*/true);
    Add("R2", true, {}, true, /*afterRun=*/true);
    Add("S", true);
    int r1Ends = 0;
    onEvent = [&](uint32_t code, const std::string& text) {
        if (code == 1 && text == "R1" && ++r1Ends == 3) m.Stop();
    };
    RunToEnd();
    EXPECT_EQ(journal.Entries(), (NameList{"R1", "R2", "S", "R1", "R2", "R1"}));
    // The single action is gone, the rotating ones stay, the last one run at the end.
    EXPECT_EQ(Names(m.Tasks().Queue()), (NameList{"R2", "R1"}));
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back(), (Event{4, kStop}));
    EXPECT_EQ(std::count(events.begin(), events.end(), Event{4, kStop}), 1);
}

// --- failures ---

TEST_F(TransferManagerTest, FailingTransferIsReportedOncePerFailureAndRetriedAfterAPause) {
    std::mutex timesMutex;
    std::vector<Clock::time_point> starts, failures;
    int runs = 0;
    Add("F", true, [&] {
        std::lock_guard<std::mutex> lock(timesMutex);
        starts.push_back(Clock::now());
        if (++runs <= 2) {
            failures.push_back(Clock::now());
            try {
                Raise<MyNoAnswerException>(MY_HERE, "нет ответа");
            } catch (const MyExceptionPtr& e) {
                Raise<MyZelmarException>(MY_HERE, "чтение архива", e);
            }
        }
    });
    std::vector<std::string> seenErrors;
    onEvent = [&](uint32_t code, const std::string&) {
        if (code != 2) return;
        // The worker waits in this call, so the failure and the queue can be read.
        MyExceptionPtr e = m.LastError();
        ASSERT_TRUE(e);
        seenErrors.push_back(e->GetMsg());
        ASSERT_TRUE(m.CurrentTransfer());
        EXPECT_EQ(m.CurrentTransfer()->GetName(), "F");
        EXPECT_FALSE(m.GetWaitWindow().IsVisible());
    };
    RunToEnd();

    EXPECT_EQ(events, (EventList{{3, kStart},
                                 {0, "F"},
                                 {2, "чтение архива"},
                                 {0, "F"},
                                 {2, "чтение архива"},
                                 {0, "F"},
                                 {1, "F"},
                                 {4, kStop}}));
    EXPECT_EQ(seenErrors, (NameList{"чтение архива", "чтение архива"}));
    ASSERT_EQ(starts.size(), 3u);
    for (size_t i = 0; i < failures.size(); ++i)
        EXPECT_GE(starts[i + 1] - failures[i], milliseconds(10)) << "retry " << i;
    // A successful run clears the failure.
    EXPECT_EQ(m.LastError(), nullptr);
    EXPECT_TRUE(m.Tasks().Empty());

    // Each failure is one red block on the console: the message, then its cause.
    const std::vector<std::string> rows = test::ConsoleRows();
    const uint16_t red = (kConsoleDefaultAttr | ConColorRed.set) & ~ConColorRed.clear;
    int blocks = 0;
    for (size_t y = 0; y < rows.size(); ++y) {
        if (rows[y].rfind("чтение архива ", 0) != 0) continue;
        ++blocks;
        EXPECT_EQ(GUIConsole::Instance().Buffer().RowCells(static_cast<int>(y))[0].attr, red);
        ASSERT_LT(y + 1, rows.size());
        EXPECT_EQ(rows[y + 1].find("нет ответа"), 8u) << rows[y + 1];
    }
    EXPECT_EQ(blocks, 2);
}

TEST_F(TransferManagerTest, StopFromAnErrorSubscriberReturnsAtOnceAndEndsThePolling) {
    Add("F", true, [] { Raise<MyZelmarException>(MY_HERE, "нет ответа"); });
    Add("U", true);
    int stopsReturned = 0;
    onEvent = [&](uint32_t code, const std::string&) {
        if (code != 2) return;
        m.Stop();
        ++stopsReturned;
    };
    RunToEnd();
    EXPECT_EQ(stopsReturned, 1);
    EXPECT_EQ(journal.Entries(), (NameList{"F"}));
    EXPECT_EQ(events, (EventList{{3, kStart}, {0, "F"}, {2, "нет ответа"}, {4, kStop}}));
    // The failed transfer stays first, and the failure stays readable.
    EXPECT_EQ(Names(m.Tasks().Queue()), (NameList{"F", "U"}));
    ASSERT_TRUE(m.LastError());
    EXPECT_EQ(m.LastError()->GetMsg(), "нет ответа");

    // Start() clears it before anything runs.
    m.Tasks().Clear();
    m.Start();
    EXPECT_EQ(m.LastError(), nullptr);
    ASSERT_TRUE(ServeUntil([this] { return !m.IsPolling(); }));
}

// --- stopping ---

TEST_F(TransferManagerTest, StopInsideATransferUnwindsItAndEndsThePolling) {
    Add("T", true, [&] {
        m.Stop();
        journal.Add("после Stop");
    });
    Add("U", true);
    RunToEnd();
    EXPECT_EQ(journal.Entries(), (NameList{"T"}));
    EXPECT_EQ(events, (EventList{{3, kStart}, {0, "T"}, {4, kStop}}));
    EXPECT_EQ(m.LastError(), nullptr);
    EXPECT_EQ(Names(m.Tasks().Queue()), (NameList{"T", "U"}));
    const std::vector<std::string> rows = test::ConsoleRows();
    EXPECT_NE(std::find(rows.begin(), rows.end(), "Опрос прерван из потоковой продцедуры."),
              rows.end())
        << test::ConsoleText();
}

TEST_F(TransferManagerTest, StopWhileIdleNotifiesOnceAndHidesTheWaitWindow) {
    m.ShowWait("Ожидание", true);
    ASSERT_TRUE(m.GetWaitWindow().IsVisible());
    m.Stop();
    EXPECT_EQ(events, (EventList{{4, kStop}}));
    EXPECT_FALSE(m.GetWaitWindow().IsVisible());
    EXPECT_FALSE(m.GetWaitWindow().IsProgressVisible());
    EXPECT_FALSE(Window().CancelVisible());
}

// Both ways the user interface stops a running worker: the stop command and the cancel panel
// of the wait window. Each waits for the worker and ends with two NtfPollStop.
TEST_F(TransferManagerTest, StopOfARunningWorkerWaitsForItAndNotifiesTwice) {
    const std::vector<std::pair<const char*, std::function<void()>>> ways = {
        {"Stop()", [this] { m.Stop(); }},
        {"cancel", [] { Window().ClickCancel(); }},
    };
    for (const auto& [name, stop] : ways) {
        SCOPED_TRACE(name);
        events.clear();
        m.Tasks().Clear();
        std::atomic<bool> sawStop{false};
        Add("T", true, [&] {
            m.ShowWait("Чтение", true);
            sawStop = SpinUntilStop(m);
        });
        m.Start();
        ASSERT_TRUE(ServeUntil([&] { return m.GetWaitWindow().IsVisible(); }));
        stop();
        EXPECT_FALSE(m.IsPolling());
        EXPECT_TRUE(sawStop.load());
        EXPECT_EQ(events, (EventList{{3, kStart}, {0, "T"}, {4, kStop}, {4, kStop}}));
        // Stopped during its run: no NtfTaskEnd, and it stays first.
        EXPECT_EQ(Names(m.Tasks().Queue()), (NameList{"T"}));
        EXPECT_FALSE(m.GetWaitWindow().IsVisible());
    }
}

TEST_F(TransferManagerTest, TemporaryStopRestartsOnlyAPollingThatRan) {
    std::atomic<int> runs{0};
    Add("T", true, [&] {
        runs.fetch_add(1);
        SpinUntilStop(m);
    });
    m.Start();
    ASSERT_TRUE(ServeUntil([&] { return runs.load() == 1; }));
    {
        TemporaryStopTransferManager pause(m);
        EXPECT_FALSE(m.IsPolling());
        EXPECT_EQ(events.back(), (Event{4, kStop}));
    }
    EXPECT_TRUE(m.IsPolling());
    ASSERT_TRUE(ServeUntil([&] { return runs.load() == 2; }));
    m.Stop();

    events.clear();
    { TemporaryStopTransferManager pause(m); }
    EXPECT_FALSE(m.IsPolling());
    EXPECT_EQ(events, (EventList{{4, kStop}}));
}

// --- Wait ---

TEST_F(TransferManagerTest, WaitEndsEarlyWhenAStopIsRequested) {
    // From the UI thread outside a call, and from inside a call the worker sent (a handler
    // that stops): either way a long pause must not run on.
    for (const bool fromInsideCall : {false, true}) {
        SCOPED_TRACE(fromInsideCall ? "inside a call" : "outside");
        events.clear();
        m.Tasks().Clear();
        std::atomic<int64_t> waitedMs{-1};
        std::atomic<bool> sawStop{false}, waiting{false};
        Add("T", true, [&] {
            if (fromInsideCall) CallInUiThread([&] { m.Stop(); }, MY_HERE);
            waiting = true;
            const Clock::time_point t0 = Clock::now();
            m.Wait(60000, false);
            waitedMs = std::chrono::duration_cast<milliseconds>(Clock::now() - t0).count();
            sawStop = m.ShouldStop();
        });
        m.Start();
        if (!fromInsideCall) {
            ASSERT_TRUE(ServeUntil([&] { return waiting.load(); }));
            m.Stop();
        }
        ASSERT_TRUE(ServeUntil([&] { return !m.IsPolling(); }));
        EXPECT_GE(waitedMs.load(), 0);
        EXPECT_LT(waitedMs.load(), 30000);
        EXPECT_TRUE(sawStop.load());
        EXPECT_FALSE(HasEvent(1, "T"));
    }
}

TEST_F(TransferManagerTest, WaitLastsItsTimeWhenNobodyStops) {
    std::atomic<int64_t> waitedMs{-1};
    Add("T", true, [&] {
        const Clock::time_point t0 = Clock::now();
        m.Wait(30, false);
        waitedMs = std::chrono::duration_cast<milliseconds>(Clock::now() - t0).count();
    });
    RunToEnd();
    EXPECT_GE(waitedMs.load(), 30);
    // With the worker idle there is nothing to wait for.
    const Clock::time_point t0 = Clock::now();
    m.Wait(60000, false);
    EXPECT_LT(Clock::now() - t0, milliseconds(30000));
}

TEST_F(TransferManagerTest, WaitWithProgressRewritesOneCounterInPlaceAndErasesIt) {
    // Ending by time and ending by a stop both leave the console clean.
    for (const bool stopEarly : {false, true}) {
        SCOPED_TRACE(stopEarly ? "stopped" : "to the end");
        test::ResetConsole();
        m.Tasks().Clear();
        const int ms = stopEarly ? 60000 : 1500;
        Add("T", true, [&] { m.Wait(ms, true); });
        const std::string total = stopEarly ? "00:01:00:000" : "00:00:01:500";
        int seen = 0;
        bool oneAtATime = true;
        auto countCounters = [&] {
            int n = 0;
            for (const std::string& r : test::ConsoleRows()) {
                const int percent = CounterPercent(r, total);
                if (percent < 0) continue;
                ++n;
                EXPECT_LE(percent, 100);
            }
            if (n > 1) oneAtATime = false;
            return n;
        };
        m.Start();
        ASSERT_TRUE(ServeUntil([&] {
            seen += countCounters();
            return seen >= 3 || !m.IsPolling();
        }));
        EXPECT_GE(seen, 1) << "the counter never showed";
        if (stopEarly) m.Stop();
        ASSERT_TRUE(ServeUntil([&] {
            countCounters();
            return !m.IsPolling();
        }));
        EXPECT_TRUE(oneAtATime);
        for (const std::string& r : test::ConsoleRows())
            EXPECT_EQ(r.find(" из "), std::string::npos) << r;
    }
}

// --- the wait window ---

struct WindowState {
    bool visible = false;
    std::string caption;
    int fits = 0, shows = 0, resets = 0;
    bool progress = false, cancel = false;
    int position = 0, min = 0, max = 0;
    int repaints = 0;
};

WindowState Snapshot() {
    return CallInUiThread(
        [] {
            RecordingWaitWindow& w = Window();
            return WindowState{
                w.IsVisible(),     w.Caption(),  w.fits,  w.shows, w.resets,  w.IsProgressVisible(),
                w.CancelVisible(), w.Position(), w.Min(), w.Max(), w.repaints};
        },
        MY_HERE);
}

TEST_F(TransferManagerTest, ShowWaitFromTheWorkerShowsFitsOnlyAHiddenWindowAndSkipsRepeats) {
    std::vector<WindowState> s;
    Add("T", true, [&] {
        m.ShowWait("Шаг 1", false);
        s.push_back(Snapshot());
        m.ShowWait("Шаг 1", false);
        s.push_back(Snapshot());
        m.ShowWait("Шаг 2", true);
        s.push_back(Snapshot());
    });
    RunToEnd();
    ASSERT_EQ(s.size(), 3u);
    EXPECT_TRUE(s[0].visible);
    EXPECT_EQ(s[0].caption, "Шаг 1");
    EXPECT_EQ(s[0].fits, 1);
    EXPECT_EQ(s[0].shows, 1);
    EXPECT_FALSE(s[0].progress);
    EXPECT_FALSE(s[0].cancel);
    // Same text while shown: only the elapsed time starts again.
    EXPECT_EQ(s[1].resets, s[0].resets + 1);
    EXPECT_EQ(s[1].shows, 1);
    // New text while shown: shown again, not fitted again, progress and cancel panel appear.
    EXPECT_EQ(s[2].caption, "Шаг 2");
    EXPECT_EQ(s[2].fits, 1);
    EXPECT_EQ(s[2].shows, 2);
    EXPECT_TRUE(s[2].progress);
    EXPECT_TRUE(s[2].cancel);
    EXPECT_EQ(s[2].position, 0);
    EXPECT_EQ(s[2].min, 0);
    EXPECT_EQ(s[2].max, 0);
    // The ended transfer hid it all again.
    const WindowState end = Snapshot();
    EXPECT_FALSE(end.visible);
    EXPECT_FALSE(end.progress);
    EXPECT_FALSE(end.cancel);
    EXPECT_EQ(end.max, 0);
}

TEST_F(TransferManagerTest, SetProgressFromTheWorkerActsOnlyOnAShownBar) {
    struct Call {
        int position, max, min;
    };
    struct Case {
        const char* name;
        bool withProgress;
        std::vector<Call> calls;
        int position, min, max;
        bool repainted;
    };
    const std::vector<Case> cases = {
        {"set all", true, {{5, 100, 0}}, 5, 0, 100, true},
        {"advance", true, {{5, 100, 0}, {-2, -1, -1}}, 6, 0, 100, true},
        {"advance twice", true, {{-2, 10, -1}, {-2, -1, -1}}, 2, 0, 10, true},
        {"keep position", true, {{5, 100, 0}, {-1, 50, -1}}, 5, 0, 50, true},
        {"keep all", true, {{5, 100, 10}, {-1, -1, -1}}, 5, 10, 100, true},
        {"hidden advance", false, {{-2, -1, -1}}, 0, 0, 0, false},
        {"hidden set", false, {{5, 100, 10}}, 0, 0, 0, false},
    };
    std::vector<WindowState> before, after;
    Add("T", true, [&] {
        for (const Case& c : cases) {
            m.HideWait();
            m.ShowWait("Прогресс", c.withProgress);
            before.push_back(Snapshot());
            for (const Call& k : c.calls) m.SetProgress(k.position, k.max, k.min);
            after.push_back(Snapshot());
        }
    });
    RunToEnd();
    ASSERT_EQ(after.size(), cases.size());
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        EXPECT_EQ(after[i].progress, cases[i].withProgress);
        EXPECT_EQ(after[i].position, cases[i].position);
        EXPECT_EQ(after[i].min, cases[i].min);
        EXPECT_EQ(after[i].max, cases[i].max);
        EXPECT_EQ(after[i].repaints > before[i].repaints, cases[i].repainted);
    }
}

// --- the one manager ---

TEST_F(TransferManagerTest, IsTheProcessTransferControlAndRefusesASecondManager) {
    EXPECT_EQ(&GetTransferControl(), &m);
    EXPECT_EQ(&GetTransferManager(), &m);
    EXPECT_TRUE(TransferManagerExists());
    try {
        TransferManagerT second;
        ADD_FAILURE() << "a second manager was built";
    } catch (const MyExceptionPtr& e) {
        EXPECT_EQ(e->GetMsg(), "!wasCalledOnce");
    }
    EXPECT_EQ(&GetTransferControl(), &m);
    RunToEnd();  // the first one still works
    EXPECT_EQ(events, (EventList{{3, kStart}, {4, kStop}}));
}

// --- the priority setting ---

class PrioritySetting : public ::testing::Test {
  protected:
    void SetUp() override {
        Manager();  // the console and the UI thread
        dir_ = test::MakeTempDir("priority");
    }
    std::string dir_;
};

TEST_F(PrioritySetting, ReadsZeroToSixAndFallsBackToOneOtherwise) {
    const struct {
        const char* text;  // nullptr: no key at all
        int expected;
    } cases[] = {{nullptr, 1}, {"0", 0}, {"3", 3},  {"6", 6},   {"7", 1},
                 {"-1", 1},    {"", 1},  {"2x", 1}, {"abc", 1}, {"255", 1}};
    int i = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text ? c.text : "(missing)");
        const std::string path = dir_ + "/config" + std::to_string(i++) + ".ini";
        test::WriteFile(
            path, c.text ? std::string("[Трансфер]\nприоритет_второго_потока=") + c.text + "\n"
                         : "[Трансфер]\n");
        IniFile ini(path);
        EXPECT_EQ(LoadWorkerPriority(ini), c.expected);
    }
}

TEST_F(PrioritySetting, WritesTheKeyItReads) {
    IniFile ini(dir_ + "/config.ini");
    SaveWorkerPriority(ini, 4);
    EXPECT_NE(test::ReadFile(ini.FileName()).find("[Трансфер]"), std::string::npos);
    EXPECT_NE(test::ReadFile(ini.FileName()).find("приоритет_второго_потока=4"), std::string::npos);
    EXPECT_EQ(LoadWorkerPriority(IniFile(ini.FileName())), 4);
    EXPECT_TRUE(SaveWorkerPriorityReporting(ini, 0));
    EXPECT_EQ(LoadWorkerPriority(IniFile(ini.FileName())), 0);
}

TEST_F(PrioritySetting, AFailedWriteIsReportedNotThrown) {
    test::ResetConsole();
    test::BoxRecorder boxes;
    IniFile ini(dir_ + "/missing-folder/config.ini");
    EXPECT_FALSE(SaveWorkerPriorityReporting(ini, 2));
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_NE(boxes.Boxes()[0].text.find("Ошибка записи файла настроек"), std::string::npos);
    EXPECT_EQ(boxes.Boxes()[0].type & MB_ICONERROR, MB_ICONERROR);
    const std::vector<std::string> rows = test::ConsoleRows();
    const uint16_t red = (kConsoleDefaultAttr | ConColorRed.set) & ~ConColorRed.clear;
    bool found = false;
    for (size_t y = 0; y < rows.size(); ++y)
        if (rows[y].find("Ошибка записи файла настроек") != std::string::npos) {
            found = true;
            EXPECT_EQ(GUIConsole::Instance().Buffer().RowCells(static_cast<int>(y))[0].attr, red);
        }
    EXPECT_TRUE(found) << test::ConsoleText();
}

}  // namespace
