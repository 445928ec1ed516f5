#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

class IniFile;
class MyPort;

// The five link timing settings; owned by the control system, read at every step.
struct MasterSlaveIOSettings {
    int32_t writeDelayMs = 50;      // pause before every request
    int32_t answerTimeoutMs = 1000; // wait for the first byte, and for further bytes
    int32_t charWaitMs = 10;        // pause after each received chunk
    int32_t retryCount = 0;         // attempts on timeout (0 and 1: one attempt)
    bool showPackets = false;       // trace requests, answers and timing on the console
    bool operator==(const MasterSlaveIOSettings&) const = default;
};

void LoadMasterSlaveIOSettings(MasterSlaveIOSettings& settings, const IniFile& ini,
                               const std::string& section);
void SaveMasterSlaveIOSettings(const MasterSlaveIOSettings& settings, IniFile& ini,
                               const std::string& section);

// The bus master's side of one request and its answer: write delay, open on demand, purge,
// send, collect until the line falls silent, retries on timeout. Knows nothing of frames.
class MasterSlaveIOImpl {
public:
    // Records the calling thread as the creator thread (the UI thread).
    explicit MasterSlaveIOImpl(const MasterSlaveIOSettings& settings);
    MasterSlaveIOImpl(const MasterSlaveIOImpl&) = delete;
    MasterSlaveIOImpl& operator=(const MasterSlaveIOImpl&) = delete;

    void SetPort(MyPort* port) { port_ = port; }
    MyPort* Port() const { return port_; }

    // The whole exchange; with waitAnswer false the request is only sent.
    void Transfer(const uint8_t* request, size_t size, bool waitAnswer);
    void Transfer(const std::vector<uint8_t>& request, bool waitAnswer) {
        Transfer(request.data(), request.size(), waitAnswer);
    }

    // True off the creator thread when the transfer manager asks to stop.
    bool IsCancelled() const;

    const uint8_t* Rxd() const { return rxd_.empty() ? nullptr : rxd_.data(); }
    size_t RxdSize() const { return rxd_.size(); }

    void SetNoAnswerHandler(std::function<void()> handler) { noAnswer_ = std::move(handler); }

    const MasterSlaveIOSettings& Settings() const { return settings_; }

private:
    void Pause(int32_t ms);
    void EnsureOpen();
    void Send();
    void ExchangeWithAnswer();

    const MasterSlaveIOSettings& settings_;
    std::thread::id creator_;
    MyPort* port_ = nullptr;
    std::vector<uint8_t> rxd_;
    std::vector<uint8_t> txd_;
    std::function<void()> noAnswer_;
};
