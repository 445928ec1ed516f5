#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "faults.h"
#include "flash_image.h"
#include "frame/date_time.h"
#include "frame/my_exception.h"
#include "live_recorder.h"
#include "scenario.h"
#include "frame/unique_fd.h"
#include "wire_frames.h"

namespace zelmar::sim {

struct SimulatorOptions {
    std::string portName = "COM1";
    std::string portsFolder;  // empty: the ports folder rule (PortsFolder())
    uint32_t baud = 0;        // byte timing of this baud rate, 8N1; 0 = none
    uint32_t latencyMs = 0;   // turnaround after the request's last byte
    uint64_t seed = 1;        // of the probabilistic faults and the garbage bytes
    uint32_t splitGapMs = 50;
    uint32_t truncateBytes = 1;
    uint32_t garbageBytes = 3;
    bool verbose = false;  // log every request and answer through the log sink
    bool live = false;     // append records as the instrument's clock runs (LiveRecorder)
};

// What the instrument received and did, since the start or the last ResetCounters().
struct SimulatorCounters {
    uint64_t frames = 0;        // requests of a known command with a correct CRC
    uint64_t badFrames = 0;     // bad CRC, impossible length or unknown command: not answered
    uint64_t skippedBytes = 0;  // noise thrown away while looking for A5 A0
    uint64_t answers = 0;       // answers written, faulty ones included
    uint64_t errorAnswers = 0;  // of which status answers with a non-zero code
    uint64_t silenced = 0;      // requests the silence fault left unanswered
    std::map<uint8_t, uint64_t> byCommand;        // every frame with a correct CRC, by command
    std::map<uint32_t, uint64_t> readsByAddress;  // 0x42 requests by start address
    std::array<uint64_t, kFaultCount> faultsFired{};
};

// The virtual instrument: a pseudo-terminal whose slave is linked as <ports folder>/COMn and
// a thread that answers on it as the instrument does. Every public member is thread-safe.
//
// Answers: 0x42 flash read (count 2-32 within the image) returns the bytes; 0x33 and 0x35 set
// the instrument's clock (kept as an offset to the PC clock) and return status 0. Refused:
// a read that touches a refused range gets the range's code; a read with another count or
// leaving the image gets kStatusBadRead; an invalid BCD time or date gets kStatusBadValue; a
// payload of the wrong length gets kStatusBadPayload. A frame with a bad CRC or an unknown
// command gets no answer.
class Simulator {
  public:
    using LogSink = std::function<void(const std::string& line)>;

    explicit Simulator(FlashImage image, SimulatorOptions options = {});
    ~Simulator();  // Stop()
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Opens the pty, links the port to it (replacing a stale link left by a simulator that
    // died; refusing a link to anything else or a port another simulator serves) and starts
    // serving. Raises MyException with the reason.
    void Start();
    // Stops serving, closes the pty and removes the link if it is still ours. Idempotent.
    void Stop();
    bool IsRunning() const;

    std::string PortName() const { return options_.portName; }
    std::string LinkPath() const;   // <ports folder>/COMn
    std::string SlavePath() const;  // the current pty slave ("" while vanished)

    // The device disappears: the pty master is closed, so the port sees EIO/POLLHUP and the
    // link dangles. Rebind() opens a new pty and points the same link at it.
    void Vanish();
    void Rebind();
    bool IsVanished() const;

    void SetFault(Fault fault, FaultMode mode);
    FaultMode GetFault(Fault fault) const;
    void ClearFaults();
    void SetSplitGapMs(uint32_t ms);
    void SetTruncateBytes(uint32_t count);
    void SetGarbageBytes(uint32_t count);
    void SetBaud(uint32_t baud);
    void SetLatencyMs(uint32_t ms);

    void RefuseReads(const RefusedRange& range);
    void ClearRefusals();

    SimulatorCounters Counters() const;
    uint64_t RequestCount(uint8_t command) const;
    uint64_t ReadCount(uint32_t address) const;
    void ResetCounters();
    // Waits until frames + badFrames reaches `count`; false on timeout.
    bool WaitForFrames(uint64_t count, std::chrono::milliseconds timeout) const;
    // The last request with a correct CRC (empty before the first).
    std::vector<uint8_t> LastRequest() const;

    // The instrument's clock: the PC clock plus an offset that set-time and set-date change.
    TDateTime InstrumentNow() const;
    int64_t ClockOffsetMs() const;
    void SetInstrumentClock(TDateTime t);

    FlashImage Image() const;
    void ModifyImage(const std::function<void(FlashImage&)>& change);
    void SetLive(bool on);

    // Receives the log lines (verbose traces; vanish and rebind notes). Set before Start().
    void SetLogSink(LogSink sink);

  private:
    struct Pty {
        UniqueFd master;
        UniqueFd slave;  // held open so the master never sees a hang-up while the port is closed
        std::string slavePath;
    };
    enum class Command { None, Vanish, Rebind, Stop };

    static Pty OpenPty();
    void Bind(const std::string& slavePath);
    void Unbind();
    void Run();
    void RunCommand(Command c);
    void RunCommandFromCaller(Command c);
    TDateTime InstrumentNowLocked() const;
    void Serve(const Request& request);
    std::vector<uint8_t> AnswerFor(const Request& request, bool& known);
    bool SleepUntil(std::chrono::steady_clock::time_point deadline);
    bool WriteAll(const uint8_t* data, size_t count);
    void Transmit(const Request& request, const std::vector<uint8_t>& answer, bool split,
                  const std::string& notes);
    bool CommandPending() const;
    void Wake();
    void Log(const std::string& text) const;
    void Trace(const std::string& text) const;

    const SimulatorOptions options_;
    const std::string folder_;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    FlashImage image_;
    FaultSwitches faults_;
    SimulatorOptions live_;  // the run-time settings (baud, latency, fault parameters, live)
    std::vector<RefusedRange> refused_;
    SimulatorCounters counters_;
    std::vector<uint8_t> lastRequest_;
    int64_t clockOffsetMs_ = 0;
    LiveRecorder recorder_;
    std::mutex commandMutex_;  // one caller's command at a time
    Command command_ = Command::None;
    uint64_t commandSerial_ = 0;
    uint64_t commandDone_ = 0;
    MyExceptionPtr commandError_;
    std::string slavePath_;       // current slave, "" while vanished
    std::string boundSlavePath_;  // what our link points to
    bool running_ = false;
    LogSink sink_;

    // Owned by the serving thread once it runs.
    Pty pty_;
    RequestAssembler assembler_;
    UniqueFd wake_;
    UniqueFd lock_;
    std::thread thread_;
};

}  // namespace zelmar::sim
