// The control system, the device tasks and the transfer manager together, over a real
// pseudo-terminal with the virtual instrument. One manager and one control system per
// process, as in the program: the tests share them.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "core/transfer/recording_view.h"
#include "device/zelmar_arch.h"
#include "device/zelmar_hrd.h"
#include "frame/ini_file.h"
#include "frame/ui_call.h"
#include "link/master_slave_io.h"
#include "link/rs232_port.h"
#include "scenario.h"
#include "simulator.h"
#include "support/test_support.h"
#include "transfer/ctrl_sys.h"
#include "transfer/device_tasks.h"
#include "transfer/transfer_manager.h"

namespace {

using zelmar::sim::Fault;
using zelmar::sim::FaultMode;

const TDateTime kEnd = EncodeDateTime(2026, 12, 11, 12, 0);

struct World {
    test::ScopedHome home{"control-e2e"};
    zelmar::sim::Scenario scenario = zelmar::sim::RealisticScenario(kEnd);
    std::unique_ptr<zelmar::sim::Simulator> sim;
    test::RecordingView view;

    World() {
        ModuleImpl::Create();
        test::ResetConsole();
        ::setenv("ZELMAR_PORTS_DIR", home.Dir().c_str(), 1);
        sim = std::make_unique<zelmar::sim::Simulator>(zelmar::sim::BuildImage(scenario));
        for (const auto& r : zelmar::sim::RefusedRanges(scenario)) sim->RefuseReads(r);
        sim->Start();
        // A quick link: the timing of the defaults is the benchmarks' business.
        IniFile ini(home.Dir() + "/config.ini");
        ini.WriteInteger("Установки МАСТЕР-СЛЭЙВ", "Задержка_записи_мсек", 0);
        ini.WriteInteger("Установки МАСТЕР-СЛЭЙВ", "длительность_ожидания_символа_приёма_мсек", 3);
        ini.WriteInteger("Установки МАСТЕР-СЛЭЙВ", "таймаут_ожидания_ответа_мсек", 300);
        GetCtrlSys();
        SetMainWindow(&view);
    }
};

World& W() {
    static World* w = new World;
    return *w;
}

class Teardown : public ::testing::Environment {
public:
    void TearDown() override {
        SetMainWindow(nullptr);
        if (CtrlSysExists()) DestroyCtrlSys();
        if (TransferManagerExists()) DestroyTransferManager();
    }
};
[[maybe_unused]] ::testing::Environment* const g_teardown =
    ::testing::AddGlobalTestEnvironment(new Teardown);

struct PollResult {
    std::vector<std::pair<uint32_t, std::string>> notes;
    bool Has(uint32_t code) const {
        for (const auto& n : notes)
            if (n.first == code) return true;
        return false;
    }
};

// Polls until the manager stops, as the main window does: a failure stops the polling.
PollResult Poll() {
    TransferManagerT& tm = GetTransferManager();
    PollResult r;
    bool stopped = false;
    auto token = tm.Subscribe([&](uint32_t code, const std::string& text) {
        r.notes.emplace_back(code, text);
        if (code == TransferManagerT::NtfTaskError) GetTransferManager().Stop();
        if (code == TransferManagerT::NtfPollStop) stopped = true;
    });
    tm.Start();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (!stopped && std::chrono::steady_clock::now() < deadline)
        ModuleImpl::Instance().ServeFor(std::chrono::milliseconds(50));
    EXPECT_TRUE(stopped) << "the polling did not end";
    tm.Stop();
    return r;
}

size_t RecordsIn(const Zelmar::ArchiveImpl& arch, const ArchReadResult& r) {
    Zelmar::ArchMapT map;
    Zelmar::ForEachReadSlot(arch, r.first, r.last, r.tFrom, r.tTo, [&](const Zelmar::ArchItem& i) {
        if (i.dateTime >= r.tFrom && i.dateTime <= r.tTo) map[i.dateTime] = i;
    });
    return map.size();
}

// Declared first: it must run before anything has initialised the instrument.
TEST(ControlEndToEnd, AReadBeforeAnyConnectionInitialisesFirst) {
    World& w = W();
    ASSERT_FALSE(deviceInitialised.load());
    const TDateTime from = kEnd - 1, to = kEnd - 0.5;  // twelve hours of hour records
    GetTransferManager().Tasks().Clear();
    GetTransferManager().AddTransfer(std::make_shared<ReadArchiveTask>(true, from, to), false);
    PollResult r = Poll();
    EXPECT_FALSE(r.Has(TransferManagerT::NtfTaskError));
    EXPECT_TRUE(deviceInitialised.load());
    EXPECT_EQ(w.sim->RequestCount(0x33), 1u);
    EXPECT_EQ(w.sim->RequestCount(0x35), 1u);
    EXPECT_EQ(w.view.cells[std::make_pair(1, 1)], Zelmar::CellTypeName(w.scenario.cells[0].type));
    EXPECT_EQ(w.view.statusColor[3], clNavy);
    ASSERT_EQ(w.view.hourReads.size(), 1u);
    const ArchReadResult& res = w.view.hourReads[0];
    EXPECT_EQ(res.tFrom, from);
    EXPECT_EQ(res.tTo, to);
    EXPECT_EQ(RecordsIn(Zelmar::GetHourArch(), res), 13u);
}

TEST(ControlEndToEnd, ConnectTwiceLeavesOneInitialisationAtTheFront) {
    TransferManagerT& tm = GetTransferManager();
    tm.Tasks().Clear();
    tm.AddTransfer(std::make_shared<ReadArchiveTask>(false, kEnd - 0.01, kEnd), true);
    GetCtrlSys().Connect();
    GetCtrlSys().Connect();
    int inits = 0;
    for (const auto* list : {&tm.Tasks().Queue(), &tm.Tasks().FrontAdds(), &tm.Tasks().BackAdds()})
        for (const TransferPtr& t : *list) inits += dynamic_cast<InitializeDevice*>(t.get()) != nullptr;
    EXPECT_EQ(inits, 1);
    ASSERT_FALSE(tm.Tasks().FrontAdds().empty());
    EXPECT_NE(dynamic_cast<InitializeDevice*>(tm.Tasks().FrontAdds().front().get()), nullptr);
    EXPECT_EQ(tm.Tasks().BackAdds().size(), 1u);
    tm.Tasks().Clear();
}

TEST(ControlEndToEnd, PollingThatEndsClosesThePortAndClearsTheConnectionTexts) {
    World& w = W();
    w.view.connectionHistory.clear();
    GetTransferManager().Tasks().Clear();
    GetCtrlSys().Connect();
    PollResult r = Poll();
    EXPECT_FALSE(r.Has(TransferManagerT::NtfTaskError));
    EXPECT_FALSE(GetCtrlSys().Port().IsOpen());
    EXPECT_EQ(w.view.connection, "");
    EXPECT_EQ(w.view.status[2], "");
    const auto& h = w.view.connectionHistory;
    ASSERT_GE(h.size(), 2u);
    EXPECT_NE(std::find(h.begin(), h.end(), "Связь установлена"), h.end());
    EXPECT_EQ(h.back(), "");
    bool sawStatus = false;
    for (const std::string& s : w.view.statusHistory) sawStatus |= s == "2:Связь установлена COM1 9600";
    EXPECT_TRUE(sawStatus);
}

TEST(ControlEndToEnd, AMinuteReadReadsEveryRecordOnce) {
    World& w = W();
    w.sim->ResetCounters();
    const TDateTime from = kEnd - 3.0 / 24, to = kEnd - 2.0 / 24;
    GetTransferManager().Tasks().Clear();
    GetTransferManager().AddTransfer(std::make_shared<ReadArchiveTask>(false, from, to), false);
    w.view.minuteReads.clear();
    PollResult r = Poll();
    EXPECT_FALSE(r.Has(TransferManagerT::NtfTaskError));
    ASSERT_EQ(w.view.minuteReads.size(), 1u);
    EXPECT_EQ(RecordsIn(Zelmar::GetMinuteArch(), w.view.minuteReads[0]), 61u);
    for (const auto& [addr, n] : w.sim->Counters().readsByAddress) EXPECT_EQ(n, 1u) << std::hex << addr;
}

TEST(ControlEndToEnd, AFaultMidReadIsReportedAndTheNextConnectRecovers) {
    World& w = W();
    int records = 0;
    auto token = Zelmar::GetMinuteArch().ConnectNotify([&](const Zelmar::ArchItem&) {
        if (++records == 20) w.sim->SetFault(Fault::BadCrc, FaultMode::Always());
    });
    const TDateTime from = kEnd - 10.0 / 24, to = kEnd - 9.0 / 24;
    GetTransferManager().Tasks().Clear();
    GetTransferManager().AddTransfer(std::make_shared<ReadArchiveTask>(false, from, to), false);
    PollResult r = Poll();
    ASSERT_TRUE(r.Has(TransferManagerT::NtfTaskError));
    ASSERT_NE(GetTransferManager().LastError(), nullptr);
    const std::string msg = GetTransferManager().LastError()->GetMsg();
    EXPECT_EQ(msg.rfind("несовпадение CRC ответа", 0), 0u) << msg;
    for (const auto& n : r.notes)
        if (n.first == TransferManagerT::NtfTaskError) {
            EXPECT_EQ(n.second, msg);
        }
    // The failed transfer stays at the head of the queue.
    ASSERT_NE(GetTransferManager().CurrentTransfer(), nullptr);
    EXPECT_NE(dynamic_cast<ReadArchiveTask*>(GetTransferManager().CurrentTransfer().get()), nullptr);
    token.reset();

    w.sim->ClearFaults();
    GetTransferManager().Tasks().Clear();
    GetCtrlSys().Connect();
    PollResult again = Poll();
    EXPECT_FALSE(again.Has(TransferManagerT::NtfTaskError));
    EXPECT_EQ(GetTransferManager().LastError(), nullptr);
}

}  // namespace
