#include "simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <filesystem>

#include "frame/format.h"
#include "link/port_names.h"

namespace zelmar::sim {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::nanoseconds;

[[noreturn]] void RaiseErrno(const std::string& text) {
    Raise<MyWindowsException>(MY_HERE, static_cast<uint32_t>(errno), text);
}

std::string Stamp() {
    return FormatDateTime("hh:nn:ss.zzz", Now());
}

std::string WithSlash(std::string folder) {
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder;
}

bool ReadLink(const std::string& path, std::string& target) {
    char buf[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), buf, sizeof buf - 1);
    if (n < 0) return false;
    target.assign(buf, static_cast<size_t>(n));
    return true;
}

// Strict packed BCD: both nibbles 0…9.
bool FromBcd(uint8_t b, int& v) {
    if ((b >> 4) > 9 || (b & 0x0F) > 9) return false;
    v = (b >> 4) * 10 + (b & 0x0F);
    return true;
}

void MakeRaw(int fd) {
    termios t{};
    if (::tcgetattr(fd, &t) != 0) RaiseErrno("tcgetattr");
    // No echo, no line editing, no CR/LF translation: the frames are binary.
    ::cfmakeraw(&t);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (::tcsetattr(fd, TCSANOW, &t) != 0) RaiseErrno("tcsetattr");
}

timespec ToTimespec(Clock::time_point t) {
    const auto ns = std::chrono::duration_cast<nanoseconds>(t.time_since_epoch()).count();
    return {static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
}

nanoseconds WireTime(size_t bytes, uint32_t baud) {
    if (baud == 0) return nanoseconds(0);
    // 8N1: ten bits a byte.
    return nanoseconds(std::llround(static_cast<double>(bytes) * 1e10 / baud));
}

}  // namespace

Simulator::Simulator(FlashImage image, SimulatorOptions options)
    : options_(std::move(options)),
      folder_(WithSlash(options_.portsFolder.empty() ? PortsFolder() : options_.portsFolder)),
      image_(std::move(image)),
      faults_(options_.seed),
      live_(options_) {}

Simulator::~Simulator() {
    try {
        Stop();
    } catch (...) {
    }
}

std::string Simulator::LinkPath() const {
    return folder_ + options_.portName;
}

std::string Simulator::SlavePath() const {
    std::lock_guard lock(mutex_);
    return slavePath_;
}

bool Simulator::IsRunning() const {
    std::lock_guard lock(mutex_);
    return running_;
}

bool Simulator::IsVanished() const {
    std::lock_guard lock(mutex_);
    return running_ && slavePath_.empty();
}

Simulator::Pty Simulator::OpenPty() {
    Pty p;
    p.master.Reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!p.master) RaiseErrno("posix_openpt");
    if (::grantpt(p.master.Get()) != 0) RaiseErrno("grantpt");
    if (::unlockpt(p.master.Get()) != 0) RaiseErrno("unlockpt");
    char name[128];
    if (::ptsname_r(p.master.Get(), name, sizeof name) != 0) RaiseErrno("ptsname_r");
    p.slavePath = name;
    p.slave.Reset(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!p.slave) RaiseErrno(Format("open %s", name));
    MakeRaw(p.slave.Get());
    MakeRaw(p.master.Get());
    const int fl = ::fcntl(p.master.Get(), F_GETFL);
    if (fl < 0 || ::fcntl(p.master.Get(), F_SETFL, fl | O_NONBLOCK) != 0)
        RaiseErrno("fcntl O_NONBLOCK");
    return p;
}

void Simulator::Bind(const std::string& slavePath) {
    const std::string link = LinkPath();
    struct stat st {};
    if (::lstat(link.c_str(), &st) == 0) {
        std::string target;
        // Only a link into /dev/pts/ is ours to replace: we hold the port's lock, so no
        // running simulator serves it, and the link was left by one that died.
        if (!S_ISLNK(st.st_mode) || !ReadLink(link, target) || target.rfind("/dev/pts/", 0) != 0)
            Raise<MyException>(
                MY_HERE, Format("Порт %s уже занят: \"%s\" указывает не на виртуальный прибор",
                                options_.portName.c_str(), link.c_str()));
    }
    const std::string tmp =
        Format("%s.%s.link%d", folder_.c_str(), options_.portName.c_str(), int(::getpid()));
    ::unlink(tmp.c_str());
    if (::symlink(slavePath.c_str(), tmp.c_str()) != 0)
        RaiseErrno(Format("Не удалось создать ссылку \"%s\"", link.c_str()));
    if (::rename(tmp.c_str(), link.c_str()) != 0) {
        const int err = errno;
        ::unlink(tmp.c_str());
        errno = err;
        RaiseErrno(Format("Не удалось создать ссылку \"%s\"", link.c_str()));
    }
    std::lock_guard lock(mutex_);
    boundSlavePath_ = slavePath;
}

void Simulator::Unbind() {
    std::string target, bound;
    {
        std::lock_guard lock(mutex_);
        bound = boundSlavePath_;
        boundSlavePath_.clear();
    }
    // Someone may have re-pointed the port meanwhile; leave their link alone.
    if (!bound.empty() && ReadLink(LinkPath(), target) && target == bound)
        ::unlink(LinkPath().c_str());
}

void Simulator::Start() {
    {
        std::lock_guard lock(mutex_);
        if (running_) return;
    }
    std::error_code ec;
    std::filesystem::create_directories(folder_, ec);
    if (ec)
        Raise<MyException>(MY_HERE, Format("Не удалось создать папку портов \"%s\": %s",
                                           folder_.c_str(), ec.message().c_str()));
    // One simulator per port: the lock lives as long as the simulator serves.
    const std::string lockPath = folder_ + "." + options_.portName + ".lock";
    for (int attempt = 0;; ++attempt) {
        UniqueFd fd(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
        if (!fd) RaiseErrno(Format("Не удалось открыть \"%s\"", lockPath.c_str()));
        if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
            if (errno == EWOULDBLOCK)
                Raise<MyException>(MY_HERE,
                                   Format("Порт %s уже обслуживает другой виртуальный прибор",
                                          options_.portName.c_str()));
            RaiseErrno(Format("Не удалось заблокировать \"%s\"", lockPath.c_str()));
        }
        // The previous owner may have removed the file between our open and our lock.
        struct stat a {};
        struct stat b {};
        if (::fstat(fd.Get(), &a) == 0 && ::stat(lockPath.c_str(), &b) == 0 &&
            a.st_ino == b.st_ino && a.st_dev == b.st_dev) {
            lock_ = std::move(fd);
            break;
        }
        if (attempt > 10)
            Raise<MyException>(MY_HERE,
                               Format("Не удалось заблокировать \"%s\"", lockPath.c_str()));
    }
    try {
        wake_.Reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
        if (!wake_) RaiseErrno("eventfd");
        pty_ = OpenPty();
        Bind(pty_.slavePath);
    } catch (...) {
        pty_ = Pty{};
        ::unlink(lockPath.c_str());
        lock_.Reset();
        throw;
    }
    {
        std::lock_guard lock(mutex_);
        slavePath_ = pty_.slavePath;
        command_ = Command::None;
        running_ = true;
        recorder_.Reset();
    }
    thread_ = std::thread([this] { Run(); });
}

void Simulator::Stop() {
    {
        std::lock_guard lock(mutex_);
        if (!running_) return;
        command_ = Command::Stop;
    }
    Wake();
    if (thread_.joinable()) thread_.join();
    pty_ = Pty{};
    Unbind();
    ::unlink((folder_ + "." + options_.portName + ".lock").c_str());
    lock_.Reset();
    wake_.Reset();
    std::lock_guard lock(mutex_);
    running_ = false;
    slavePath_.clear();
    command_ = Command::None;
    changed_.notify_all();
}

void Simulator::Wake() {
    if (!wake_) return;
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(wake_.Get(), &one, sizeof one);
}

bool Simulator::CommandPending() const {
    std::lock_guard lock(mutex_);
    return command_ != Command::None;
}

void Simulator::Vanish() {
    RunCommandFromCaller(Command::Vanish);
}
void Simulator::Rebind() {
    RunCommandFromCaller(Command::Rebind);
}

void Simulator::RunCommandFromCaller(Command c) {
    std::lock_guard callers(commandMutex_);
    std::unique_lock lock(mutex_);
    MY_CHECK_TEXT(running_ && command_ == Command::None, "the simulator runs");
    command_ = c;
    commandError_.reset();
    const uint64_t serial = ++commandSerial_;
    lock.unlock();
    Wake();
    lock.lock();
    changed_.wait(lock, [&] { return commandDone_ >= serial || !running_; });
    if (commandError_) {
        MyExceptionPtr e = std::move(commandError_);
        throw e;
    }
}

void Simulator::RunCommand(Command c) {
    if (c == Command::Vanish) {
        pty_ = Pty{};
        assembler_.Clear();
        {
            std::lock_guard lock(mutex_);
            slavePath_.clear();
        }
        Log(Format("%s %s: прибор отключён", Stamp().c_str(), options_.portName.c_str()));
    } else if (c == Command::Rebind) {
        Pty p = OpenPty();
        Bind(p.slavePath);
        pty_ = std::move(p);
        assembler_.Clear();
        {
            std::lock_guard lock(mutex_);
            slavePath_ = pty_.slavePath;
        }
        Log(Format("%s %s: прибор подключён заново -> %s", Stamp().c_str(),
                   options_.portName.c_str(), pty_.slavePath.c_str()));
    }
}

void Simulator::Run() {
    std::vector<uint8_t> buf(4096);
    for (;;) {
        Command c;
        bool live;
        {
            std::lock_guard lock(mutex_);
            c = command_;
            live = live_.live;
        }
        if (c == Command::Stop) return;
        if (c != Command::None) {
            MyExceptionPtr error;
            try {
                RunCommand(c);
            } catch (const MyExceptionPtr& e) {
                error = e;
            } catch (...) {
                error = MyException::FromCurrent(MY_HERE);
            }
            std::lock_guard lock(mutex_);
            commandError_ = error;
            commandDone_ = commandSerial_;
            // A stop that came in meanwhile stays pending.
            if (command_ == c) command_ = Command::None;
            changed_.notify_all();
            continue;
        }

        pollfd fds[2] = {{wake_.Get(), POLLIN, 0}, {pty_.master.Get(), POLLIN, 0}};
        // Live logging looks at the clock a few times a second.
        const int r = ::poll(fds, pty_.master ? 2 : 1, live ? 250 : -1);
        if (r < 0 && errno != EINTR) {
            Log(Format("%s poll: %s", Stamp().c_str(), WindowsErrorText(errno).c_str()));
            ::usleep(10000);
        }
        if (r > 0 && (fds[0].revents & POLLIN)) {
            uint64_t v;
            [[maybe_unused]] ssize_t n = ::read(wake_.Get(), &v, sizeof v);
        }
        if (r > 0 && pty_.master && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
            for (;;) {
                const ssize_t n = ::read(pty_.master.Get(), buf.data(), buf.size());
                if (n > 0) {
                    assembler_.Feed(buf.data(), static_cast<size_t>(n), Clock::now());
                    continue;
                }
                if (n < 0 && errno == EINTR) continue;
                // EAGAIN: all read. EIO cannot last, since we hold a slave open; back off anyway.
                if (n < 0 && errno != EAGAIN) ::usleep(1000);
                break;
            }
            for (;;) {
                const uint64_t skippedBefore = assembler_.SkippedBytes();
                RequestAssembler::Result res = assembler_.Next();
                const uint64_t skipped = assembler_.SkippedBytes() - skippedBefore;
                if (skipped) {
                    std::lock_guard lock(mutex_);
                    counters_.skippedBytes += skipped;
                }
                if (res.outcome == RequestAssembler::Outcome::NeedMore) break;
                if (res.outcome == RequestAssembler::Outcome::BadFrame) {
                    Trace(Format("%s плохой кадр, без ответа: %s", Stamp().c_str(),
                                 HexBytes(res.dropped).c_str()));
                    std::lock_guard lock(mutex_);
                    ++counters_.badFrames;
                    changed_.notify_all();
                    continue;
                }
                Serve(res.request);
                if (CommandPending()) break;
            }
        }
        if (live) {
            LiveRecorder::Appended a;
            {
                std::lock_guard lock(mutex_);
                a = recorder_.Tick(image_, InstrumentNowLocked());
            }
            if (a.minuteSlot >= 0)
                Trace(Format("%s записана минутная запись в ячейку %d", Stamp().c_str(),
                             a.minuteSlot));
            if (a.hourSlot >= 0)
                Trace(
                    Format("%s записана часовая запись в ячейку %d", Stamp().c_str(), a.hourSlot));
        }
    }
}

std::vector<uint8_t> Simulator::AnswerFor(const Request& rq, bool& known) {
    // Runs with mutex_ held.
    known = true;
    const uint8_t number = rq.Number();
    const uint8_t* p = rq.Payload();
    switch (rq.Command()) {
        case kCmdReadFlash: {
            if (rq.PayloadSize() != 4) return BuildStatusAnswer(number, kStatusBadPayload);
            const uint32_t addr =
                static_cast<uint32_t>(p[0]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[2];
            const uint32_t count = static_cast<uint32_t>(p[3]) + 1;
            ++counters_.readsByAddress[addr];
            if (count < 2 || count > 32 || !FlashImage::Contains(addr, count))
                return BuildStatusAnswer(number, kStatusBadRead);
            for (const RefusedRange& r : refused_)
                if (addr < r.first + r.count && r.first < addr + count)
                    return BuildStatusAnswer(number, r.code);
            uint8_t data[32];
            image_.Read(addr, data, count);
            return BuildAnswer(number, data, count);
        }
        case kCmdSetTime:
        case kCmdSetDate: {
            if (rq.PayloadSize() != 3) return BuildStatusAnswer(number, kStatusBadPayload);
            int a, b, c;
            if (!FromBcd(p[0], a) || !FromBcd(p[1], b) || !FromBcd(p[2], c))
                return BuildStatusAnswer(number, kStatusBadValue);
            const TDateTime now = InstrumentNowLocked();
            TDateTime day, time, set;
            if (rq.Command() == kCmdSetTime) {
                day = DatePart(now);
                if (!TryEncodeTime(a, b, c, 0, time))
                    return BuildStatusAnswer(number, kStatusBadValue);
            } else {
                time = TimePart(now);
                if (!TryEncodeDate(2000 + a, b, c, day))
                    return BuildStatusAnswer(number, kStatusBadValue);
            }
            set = day + time;
            clockOffsetMs_ = std::llround((set - Now()) * kMSecsPerDay);
            return BuildStatusAnswer(number, kStatusDone);
        }
        default:
            known = false;
            return {};
    }
}

void Simulator::Serve(const Request& rq) {
    bool known = false, silence = false, split = false;
    std::vector<uint8_t> answer;
    std::string notes;  // the faults that hit this answer, for the trace
    uint32_t truncate = 0, garbage = 0;
    {
        std::lock_guard lock(mutex_);
        ++counters_.byCommand[rq.Command()];
        lastRequest_ = rq.frame;
        answer = AnswerFor(rq, known);
        if (!known) {
            ++counters_.badFrames;
        } else {
            ++counters_.frames;
            const bool isError = answer.size() == 7 && answer[4] != kStatusDone;
            // Every switch is asked in this order for every answer, so a seed replays.
            auto fire = [&](Fault f) {
                const bool hit = faults_.Fire(f);
                if (hit) {
                    ++counters_.faultsFired[static_cast<size_t>(f)];
                    notes += notes.empty() ? " (сбой: " : ", ";
                    notes += FaultName(f);
                }
                return hit;
            };
            silence = fire(Fault::Silence);
            if (silence) {
                ++counters_.silenced;
            } else {
                if (fire(Fault::WrongNumber)) {
                    answer[3] = static_cast<uint8_t>(answer[3] + 1);
                    SealFrame(answer);
                }
                if (fire(Fault::BadCrc)) answer.back() ^= 0x01;
                if (fire(Fault::Truncate))
                    truncate = std::min<uint32_t>(live_.truncateBytes,
                                                  static_cast<uint32_t>(answer.size()) - 1);
                if (fire(Fault::Garbage)) garbage = live_.garbageBytes;
                split = fire(Fault::Split);
                answer.erase(answer.end() - static_cast<std::ptrdiff_t>(truncate), answer.end());
                std::vector<uint8_t> noise;
                for (uint32_t i = 0; i < garbage; ++i) {
                    uint8_t b = faults_.RandomByte();
                    if (b == 0x5A) b = 0xA5;  // never a marker: the answer must not start early
                    noise.push_back(b);
                }
                answer.insert(answer.begin(), noise.begin(), noise.end());
                ++counters_.answers;
                if (isError) ++counters_.errorAnswers;
            }
            if (!notes.empty()) notes += ")";
        }
        changed_.notify_all();
    }
    Trace(Format("%s запрос %s", Stamp().c_str(), HexBytes(rq.frame).c_str()));
    if (!known) {
        Trace(Format("%s неизвестная команда 0x%02X, без ответа", Stamp().c_str(), rq.Command()));
        return;
    }
    if (silence) {
        Trace(Format("%s без ответа%s", Stamp().c_str(), notes.c_str()));
        return;
    }
    Transmit(rq, answer, split, notes);
}

void Simulator::Transmit(const Request& rq, const std::vector<uint8_t>& answer, bool split,
                         const std::string& notes) {
    uint32_t baud, latency, gapMs;
    {
        std::lock_guard lock(mutex_);
        baud = live_.baud;
        latency = live_.latencyMs;
        gapMs = live_.splitGapMs;
    }
    // The request's bytes take their wire time from the first one on; the answer starts after
    // the last of them and the turnaround.
    Clock::time_point start =
        rq.firstByteAt + WireTime(rq.frame.size(), baud) + milliseconds(latency);
    start = std::max(start, Clock::now());
    const nanoseconds gap = milliseconds(gapMs);
    const size_t n = answer.size();
    const size_t half = split ? std::max<size_t>(1, n / 2) : n;
    if (!baud) {
        if (!SleepUntil(start) || !WriteAll(answer.data(), half)) return;
        if (half < n &&
            (!SleepUntil(Clock::now() + gap) || !WriteAll(answer.data() + half, n - half)))
            return;
    } else {
        // Small chunks (about a millisecond of wire time each), each written when its last
        // byte would have left the wire, against absolute deadlines so the pacing does not
        // drift.
        const size_t chunk = std::max<size_t>(1, baud / 10 / 1000);
        for (size_t i = 0; i < n;) {
            size_t j = std::min(n, i + chunk);
            if (i < half && j > half) j = half;
            const nanoseconds pause = j > half ? gap : nanoseconds(0);
            if (!SleepUntil(start + WireTime(j, baud) + pause)) return;
            if (!WriteAll(answer.data() + i, j - i)) return;
            i = j;
        }
    }
    Trace(Format("%s ответ  %s%s", Stamp().c_str(), HexBytes(answer).c_str(), notes.c_str()));
}

bool Simulator::SleepUntil(Clock::time_point deadline) {
    for (;;) {
        const Clock::time_point now = Clock::now();
        if (now >= deadline) return true;
        if (CommandPending()) return false;
        const auto left = deadline - now;
        if (left > milliseconds(30)) {
            // Long waits watch for a stop or vanish request.
            pollfd f{wake_.Get(), POLLIN, 0};
            const int ms = static_cast<int>(
                std::chrono::duration_cast<milliseconds>(left - milliseconds(20)).count());
            if (::poll(&f, 1, ms) > 0 && !CommandPending()) {
                // A wake-up without a command (a live switch): the serving loop rereads its
                // settings anyway, so it can be dropped here.
                uint64_t v;
                [[maybe_unused]] ssize_t n = ::read(wake_.Get(), &v, sizeof v);
            }
            continue;
        }
        const timespec ts = ToTimespec(deadline);
        ::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr);
    }
}

bool Simulator::WriteAll(const uint8_t* data, size_t count) {
    while (count > 0) {
        if (!pty_.master) return false;
        const ssize_t n = ::write(pty_.master.Get(), data, count);
        if (n > 0) {
            data += n;
            count -= static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            // Nobody reads and the line's buffer is full: wait a little, then give up.
            pollfd f{pty_.master.Get(), POLLOUT, 0};
            if (::poll(&f, 1, 200) > 0) continue;
        }
        Log(Format("%s %s: ответ не записан: %s", Stamp().c_str(), options_.portName.c_str(),
                   WindowsErrorText(n < 0 ? errno : EIO).c_str()));
        return false;
    }
    return true;
}

void Simulator::Log(const std::string& text) const {
    LogSink sink;
    {
        std::lock_guard lock(mutex_);
        sink = sink_;
    }
    if (sink) sink(text);
}

void Simulator::Trace(const std::string& text) const {
    if (options_.verbose) Log(text);
}

void Simulator::SetFault(Fault fault, FaultMode mode) {
    std::lock_guard lock(mutex_);
    faults_.Set(fault, mode);
}

FaultMode Simulator::GetFault(Fault fault) const {
    std::lock_guard lock(mutex_);
    return faults_.Get(fault);
}

void Simulator::ClearFaults() {
    std::lock_guard lock(mutex_);
    faults_.ClearAll();
}

void Simulator::SetSplitGapMs(uint32_t ms) {
    std::lock_guard lock(mutex_);
    live_.splitGapMs = ms;
}

void Simulator::SetTruncateBytes(uint32_t count) {
    std::lock_guard lock(mutex_);
    live_.truncateBytes = count;
}

void Simulator::SetGarbageBytes(uint32_t count) {
    std::lock_guard lock(mutex_);
    live_.garbageBytes = count;
}

void Simulator::SetBaud(uint32_t baud) {
    std::lock_guard lock(mutex_);
    live_.baud = baud;
}

void Simulator::SetLatencyMs(uint32_t ms) {
    std::lock_guard lock(mutex_);
    live_.latencyMs = ms;
}

void Simulator::RefuseReads(const RefusedRange& range) {
    MY_CHECK(range.code != 0 && range.count > 0);
    std::lock_guard lock(mutex_);
    refused_.push_back(range);
}

void Simulator::ClearRefusals() {
    std::lock_guard lock(mutex_);
    refused_.clear();
}

SimulatorCounters Simulator::Counters() const {
    std::lock_guard lock(mutex_);
    return counters_;
}

uint64_t Simulator::RequestCount(uint8_t command) const {
    std::lock_guard lock(mutex_);
    auto it = counters_.byCommand.find(command);
    return it == counters_.byCommand.end() ? 0 : it->second;
}

uint64_t Simulator::ReadCount(uint32_t address) const {
    std::lock_guard lock(mutex_);
    auto it = counters_.readsByAddress.find(address);
    return it == counters_.readsByAddress.end() ? 0 : it->second;
}

void Simulator::ResetCounters() {
    std::lock_guard lock(mutex_);
    counters_ = SimulatorCounters{};
}

bool Simulator::WaitForFrames(uint64_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout,
                             [&] { return counters_.frames + counters_.badFrames >= count; });
}

std::vector<uint8_t> Simulator::LastRequest() const {
    std::lock_guard lock(mutex_);
    return lastRequest_;
}

TDateTime Simulator::InstrumentNowLocked() const {
    return Now() + static_cast<double>(clockOffsetMs_) / kMSecsPerDay;
}

TDateTime Simulator::InstrumentNow() const {
    std::lock_guard lock(mutex_);
    return InstrumentNowLocked();
}

int64_t Simulator::ClockOffsetMs() const {
    std::lock_guard lock(mutex_);
    return clockOffsetMs_;
}

void Simulator::SetInstrumentClock(TDateTime t) {
    std::lock_guard lock(mutex_);
    clockOffsetMs_ = std::llround((t - Now()) * kMSecsPerDay);
}

FlashImage Simulator::Image() const {
    std::lock_guard lock(mutex_);
    return image_;
}

void Simulator::ModifyImage(const std::function<void(FlashImage&)>& change) {
    std::lock_guard lock(mutex_);
    change(image_);
}

void Simulator::SetLive(bool on) {
    {
        std::lock_guard lock(mutex_);
        if (live_.live == on) return;
        live_.live = on;
        recorder_.Reset();
    }
    Wake();
}

void Simulator::SetLogSink(LogSink sink) {
    std::lock_guard lock(mutex_);
    sink_ = std::move(sink);
}

}  // namespace zelmar::sim
