#include "link/master_slave_io.h"

#include <algorithm>
#include <chrono>

#include "frame/console.h"
#include "frame/format.h"
#include "frame/ini_file.h"
#include "frame/my_exception.h"
#include "frame/text_utils.h"
#include "link/my_port.h"
#include "transfer/transfer_control.h"

namespace {

const char* const kKeyWriteDelay = "Задержка_записи_мсек";
const char* const kKeyTimeout = "таймаут_ожидания_ответа_мсек";
const char* const kKeyCharWait = "длительность_ожидания_символа_приёма_мсек";
const char* const kKeyRetries = "количество_повторов_запроса";
const char* const kKeyShowPackets = "лагать";

int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void SleepMs(int64_t ms) {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Negative settings would otherwise mean waits without end; they count as 0.
int64_t NonNegative(int32_t v) { return v < 0 ? 0 : v; }

std::string Dump(const std::vector<uint8_t>& bytes) {
    return HexDump(bytes.data(), bytes.data() + bytes.size(), "", 0, 4);
}

}  // namespace

void LoadMasterSlaveIOSettings(MasterSlaveIOSettings& s, const IniFile& ini,
                               const std::string& section) {
    const MasterSlaveIOSettings def;
    s.writeDelayMs = ini.ReadInteger(section, kKeyWriteDelay, def.writeDelayMs);
    s.answerTimeoutMs = ini.ReadInteger(section, kKeyTimeout, def.answerTimeoutMs);
    s.charWaitMs = ini.ReadInteger(section, kKeyCharWait, def.charWaitMs);
    s.retryCount = ini.ReadInteger(section, kKeyRetries, def.retryCount);
    s.showPackets = ini.ReadBool(section, kKeyShowPackets, def.showPackets);
}

void SaveMasterSlaveIOSettings(const MasterSlaveIOSettings& s, IniFile& ini,
                               const std::string& section) {
    ini.WriteInteger(section, kKeyTimeout, s.answerTimeoutMs);
    ini.WriteInteger(section, kKeyCharWait, s.charWaitMs);
    ini.WriteInteger(section, kKeyWriteDelay, s.writeDelayMs);
    ini.WriteBool(section, kKeyShowPackets, s.showPackets);
    ini.WriteInteger(section, kKeyRetries, s.retryCount);
}

MasterSlaveIOImpl::MasterSlaveIOImpl(const MasterSlaveIOSettings& settings)
    : settings_(settings), creator_(std::this_thread::get_id()) {}

bool MasterSlaveIOImpl::IsCancelled() const {
    return std::this_thread::get_id() != creator_ && GetTransferControl().ShouldStop();
}

// On the creator thread a plain sleep; on the worker the transfer manager's pause, which ends
// early when a stop is requested.
void MasterSlaveIOImpl::Pause(int32_t ms) {
    const int64_t m = NonNegative(ms);
    if (std::this_thread::get_id() == creator_)
        SleepMs(m);
    else
        GetTransferControl().Wait(static_cast<int>(m), false);
}

void MasterSlaveIOImpl::EnsureOpen() {
    MY_CHECK_TEXT(port_, "port_");
    if (port_->IsOpen()) return;
    ConsolePrint(Format("Соединение с \"%s\" ....\n", port_->Description().c_str()));
    try {
        port_->Open();
    } catch (...) {
        // Keeps a retrying caller from hammering a port that cannot be opened.
        Pause(1000);
        throw;
    }
    ConsolePrint("Соединение установлено.\n");
}

void MasterSlaveIOImpl::Send() {
    port_->Purge();
    rxd_.clear();
    if (settings_.showPackets) ConsolePrint("txd:\n" + Dump(txd_) + "\n");
    MY_CHECK_TEXT(!txd_.empty(), "txdSz>0");
    port_->Write(txd_.data(), txd_.size());
}

void MasterSlaveIOImpl::ExchangeWithAnswer() {
    int32_t attempt = 0;
    for (;;) {
        Send();
        int64_t t0 = NowMs();
        const int64_t timeout = NonNegative(settings_.answerTimeoutMs);
        for (;;) {
            if (IsCancelled()) break;
            if (NowMs() - t0 >= timeout) break;
            size_t k = port_->BytesAvailable();
            if (k == 0) {
                SleepMs(1);
                continue;
            }
            const size_t old = rxd_.size();
            rxd_.resize(old + k);
            const size_t got = port_->Read(rxd_.data() + old, k);
            rxd_.resize(old + got);
            SleepMs(NonNegative(settings_.charWaitMs));
            if (port_->BytesAvailable() == 0) break;  // the line fell silent: answer complete
            t0 = NowMs();
        }
        const int64_t elapsed = NowMs() - t0;
        if (settings_.showPackets) ConsolePrint(Format("%d мсек ", static_cast<int>(elapsed)));
        if (elapsed >= timeout) {
            ++attempt;
            if (settings_.showPackets) ConsolePrint(Format(" Таймаут %d.", attempt));
            if (settings_.retryCount > attempt) {
                if (settings_.showPackets)
                    ConsolePrint(Format(" Повтор №%d из %d.\n", attempt, settings_.retryCount));
                continue;
            }
        }
        break;
    }
    if (rxd_.empty()) {
        if (settings_.showPackets) ConsolePrint(" нет ответа!\n");
        if (noAnswer_) noAnswer_();
        Raise<MyNoAnswerException>(MY_HERE, port_->Description() + " не отвечает!");
    }
    if (settings_.showPackets) ConsolePrint("rxd:\n" + Dump(rxd_) + "\n");
}

void MasterSlaveIOImpl::Transfer(const uint8_t* request, size_t size, bool waitAnswer) {
    if (IsCancelled()) {
        ConsolePrint("Отмена трансфера! Поток остановлен!\n");
        return;
    }
    txd_.assign(request, request + size);
    Pause(settings_.writeDelayMs);
    EnsureOpen();
    if (waitAnswer)
        ExchangeWithAnswer();
    else
        Send();
}
