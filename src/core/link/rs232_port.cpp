#include "link/rs232_port.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <optional>

#include "frame/format.h"
#include "frame/ini_file.h"
#include "link/dcb_helper.h"
#include "link/port_names.h"
#include "link/tty_line.h"

namespace my::RS232 {

namespace {

using Clock = std::chrono::steady_clock;

struct LineErrorText {
    uint32_t flag;
    const char* text;
};

// In the order the message lists them.
constexpr std::array<LineErrorText, 8> kLineErrors = {{
    {CE_BREAK, "The hardware detected a break condition."},
    {CE_FRAME, "The hardware detected a framing error."},
    {CE_IOE, "An I/O error occurred during communications with the device."},
    {CE_MODE, "The requested mode is not supported, or the hFile parameter is invalid."},
    {CE_OVERRUN, "A character-buffer overrun has occurred. The next character is lost."},
    {CE_RXOVER,
     "An input buffer overflow has occurred. There is either no room in the input buffer, or "
     "a character was received after the end-of-file (EOF) character."},
    {CE_RXPARITY, "The hardware detected a parity error."},
    {CE_TXFULL, "The application tried to transmit a character, but the output buffer was full."},
}};

constexpr int kFirstPortNumber = 1;
constexpr int kLastPortNumber = 19;

// Longest wait we compute with; far beyond any timeout a user sets, and safe for the clock.
constexpr uint64_t kMaxWaitMs = 100ull * 1000 * 1000 * 1000;

[[noreturn]] void RaiseSystemError(FileLine where, int code, const char* step) {
    // A failed call without an errno (a device that vanished under a read of 0 bytes) is an
    // I/O error of the device.
    Raise<MyWindowsException>(std::move(where), static_cast<uint32_t>(code ? code : EIO),
                              std::string(step));
}

// The driver has no such operation: a pseudo-terminal or an adapter without modem lines,
// counters or serial info.
bool IsNotSupported(int code) {
    return code == ENOTTY || code == EINVAL || code == EOPNOTSUPP;
}

bool HangupEvents(short revents) {
    return (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

// 0 when the deadline has passed, -1 for no deadline; rounded up so poll does not wake early.
int WaitMs(const std::optional<Clock::time_point>& deadline) {
    if (!deadline) return -1;
    const auto now = Clock::now();
    if (*deadline <= now) return 0;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - now).count();
    return static_cast<int>(std::min<int64_t>(left, 24 * 3600 * 1000));
}

std::optional<Clock::time_point> TotalDeadline(Clock::time_point start, uint32_t multiplier,
                                               uint32_t constant, size_t count) {
    if (multiplier == 0 && constant == 0) return std::nullopt;
    const uint64_t n = std::min<uint64_t>(count, 0x7FFFFFFFu);
    const uint64_t ms = std::min<uint64_t>(multiplier * n + constant, kMaxWaitMs);
    return start + std::chrono::milliseconds(ms);
}

void SetModemLine(int fd, int line, bool on) {
    int bits = line;
    if (::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bits) != 0 && !IsNotSupported(errno))
        RaiseSystemError(MY_HERE, errno, "::SetCommState");
}

void SetCommState(int fd, const DCB& dcb) {
    termios2 t{};
    if (::ioctl(fd, TCGETS2, &t) != 0) RaiseSystemError(MY_HERE, errno, "::SetCommState");
    if (int e = BuildLineTermios(dcb, t)) RaiseSystemError(MY_HERE, e, "::SetCommState");
    if (::ioctl(fd, TCSETS2, &t) != 0) RaiseSystemError(MY_HERE, errno, "::SetCommState");

    // DTR: handshake has no Linux driver support, so the line is simply raised for it.
    SetModemLine(fd, TIOCM_DTR, dcb.fDtrControl() != DTR_CONTROL_DISABLE);
    // RTS: under hardware flow control the driver drives it; toggle mode has no Linux
    // counterpart and leaves the line as it is.
    if (!(t.c_cflag & CRTSCTS) && dcb.fRtsControl() != RTS_CONTROL_TOGGLE)
        SetModemLine(fd, TIOCM_RTS, dcb.fRtsControl() == RTS_CONTROL_ENABLE);
}

// USB adapters hold received bytes back for up to 16 ms unless asked not to. Only a request:
// devices without serial info ignore it.
void RequestLowLatency(int fd) {
    serial_struct ss{};
    if (::ioctl(fd, TIOCGSERIAL, &ss) != 0) return;
    if (ss.flags & ASYNC_LOW_LATENCY) return;
    ss.flags |= ASYNC_LOW_LATENCY;
    (void)::ioctl(fd, TIOCSSERIAL, &ss);
}

}  // namespace

// ---- module ----

const ModuleVariablesT& ModuleVariablesT::Instance() {
    static const ModuleVariablesT instance;
    return instance;
}

std::vector<std::string> EnumComPorts() {
    std::vector<std::string> names;
    for (int i = kFirstPortNumber; i <= kLastPortNumber; ++i) {
        std::string name = Format("COM%d", i);
        if (IsPortPresent(name)) names.push_back(std::move(name));
    }
    return names;
}

PortHandle OpenPortByName(const std::string& name) {
    const std::vector<std::string> present = EnumComPorts();
    if (std::find(present.begin(), present.end(), name) == present.end())
        Raise<MyException>(
            MY_HERE, Format("COM-порт c символическим именем \"%s\" не представлен в системе!",
                            name.c_str()));
    const std::string busy = Format("Порт %s занят!", name.c_str());

    // O_NONBLOCK: do not wait for carrier; the port's own timeouts govern every wait.
    PortHandle h(::open(PortPath(name).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!h.IsValid()) RaiseSystemError(MY_HERE, errno, busy.c_str());
    // Exclusive use against programs that lock the device (and against ourselves); a lock
    // held elsewhere reads as "busy", which is what it is.
    if (::flock(h.Get(), LOCK_EX | LOCK_NB) != 0)
        RaiseSystemError(MY_HERE, errno == EWOULDBLOCK ? EBUSY : errno, busy.c_str());
    // Exclusive against later opens that do not lock.
    if (::ioctl(h.Get(), TIOCEXCL) != 0) RaiseSystemError(MY_HERE, errno, busy.c_str());
    return h;
}

bool HasMaskCriticalError(uint32_t code) {
    for (const LineErrorText& e : kLineErrors)
        if (code & e.flag) return true;
    return false;
}

std::string ClearCommErrorMessage(uint32_t code) {
    MY_CHECK(my::RS232::HasMaskCriticalError(code));
    std::string texts;
    for (const LineErrorText& e : kLineErrors)
        if (code & e.flag) texts += e.text;
    return Format("Ошибка приема-передачи СОМ порта:%s:%d:%s",
                  "Функция ClearCommError зафиксировала флаги критических ошибок:",
                  static_cast<int>(code), texts.c_str());
}

void RaiseClearCommError(FileLine where, uint32_t code) {
    Raise<MyClearCommErrorException>(std::move(where), ClearCommErrorMessage(code));
}

uint32_t LineErrorFlags(const LineErrorCounts& seen, const LineErrorCounts& now) {
    uint32_t flags = 0;
    if (now.frame != seen.frame) flags |= CE_FRAME;
    if (now.overrun != seen.overrun) flags |= CE_OVERRUN;
    if (now.parity != seen.parity) flags |= CE_RXPARITY;
    if (now.brk != seen.brk) flags |= CE_BREAK;
    if (now.bufOverrun != seen.bufOverrun) flags |= CE_RXOVER;
    return flags;
}

// ---- port ----

struct Port::Impl {
    PortHandle fd;
    std::string name = "COM1";
    PortSettings settings;
    // The device's own settings, put back on close.
    termios2 saved{};
    bool haveSaved = false;
    // Error counters as last reported; absent when the driver keeps none.
    std::optional<LineErrorCounts> seenErrors;

    int Fd(const char* step) const {
        if (!fd.IsValid()) RaiseSystemError(MY_HERE, EBADF, step);
        return fd.Get();
    }

    // Counters now, or nothing when the device has none.
    std::optional<LineErrorCounts> ReadErrorCounts() const {
        serial_icounter_struct ic{};
        if (::ioctl(fd.Get(), TIOCGICOUNT, &ic) != 0) {
            if (IsNotSupported(errno)) return std::nullopt;
            RaiseSystemError(MY_HERE, errno, "::ClearCommError");
        }
        LineErrorCounts c;
        c.frame = static_cast<uint32_t>(ic.frame);
        c.overrun = static_cast<uint32_t>(ic.overrun);
        c.parity = static_cast<uint32_t>(ic.parity);
        c.brk = static_cast<uint32_t>(ic.brk);
        c.bufOverrun = static_cast<uint32_t>(ic.buf_overrun);
        return c;
    }

    // POLLHUP/POLLERR now: the device went away (a hung-up tty reads 0 bytes, like "no data").
    bool HungUp() const {
        pollfd p{fd.Get(), POLLIN, 0};
        return ::poll(&p, 1, 0) > 0 && HangupEvents(p.revents);
    }
};

Port::Port() : impl_(std::make_unique<Impl>()) {
    ApplySettings(impl_->settings);
}

Port::~Port() {
    try {
        Close();
    } catch (...) {
        // A destructor cannot report; the descriptor is released by the handle regardless.
    }
}

std::string Port::Description() const {
    return Format("%s %d", impl_->name.c_str(), static_cast<int>(impl_->settings.dcb.BaudRate));
}

void Port::SaveSettings(IniFile& ini, const std::string& section) const {
    WritePortSettings(impl_->settings, ini, section);
    ini.WriteString(section, "Порт", impl_->name);
}

void Port::LoadSettings(const IniFile& ini, const std::string& section) {
    SetName(ini.ReadString(section, "Порт", impl_->name));
    PortSettings s = impl_->settings;
    ReadPortSettings(s, ini, section);
    ApplySettings(s);
}

const std::string& Port::Name() const {
    return impl_->name;
}

void Port::SetName(const std::string& name) {
    if (name == impl_->name) return;
    impl_->name = name;
    const bool wasOpen = IsOpen();
    SavePerPortSettings(name, impl_->settings);
    Close();
    LoadPerPortSettings(name, impl_->settings);
    if (wasOpen) Open();
}

const PortSettings& Port::Settings() const {
    return impl_->settings;
}

void Port::ApplySettings(const PortSettings& settings) {
    impl_->settings = settings;
    if (impl_->fd.IsValid()) ApplyToDriver();
}

void Port::ApplyToDriver() {
    // The kernel sizes its own queues: the two sizes are kept and stored, nothing to apply.
    SetCommState(impl_->fd.Get(), impl_->settings.dcb);
    // The timeouts govern DoRead/DoWrite directly; VMIN/VTIME are 0 from SetCommState.
}

void Port::DoOpen() {
    if (impl_->fd.IsValid()) return;
    impl_->fd = OpenPortByName(impl_->name);
    try {
        const int fd = impl_->fd.Get();
        impl_->haveSaved = ::ioctl(fd, TCGETS2, &impl_->saved) == 0;
        Purge();
        ApplyToDriver();
        RequestLowLatency(fd);
        // Errors from before the open are not ours to report.
        impl_->seenErrors = impl_->ReadErrorCounts();
    } catch (...) {
        impl_->fd.Reset();
        impl_->haveSaved = false;
        RaiseEvent(EvClosed, nullptr, 0);
        throw;
    }
}

void Port::DoClose() {
    if (!impl_->fd.IsValid()) return;
    const int fd = impl_->fd.Get();
    // Leave the device as we found it, unless bytes are still going out (changing the speed
    // now would garble them) or the device is gone.
    int pending = 0;
    if (impl_->haveSaved && ::ioctl(fd, TIOCOUTQ, &pending) == 0 && pending == 0)
        (void)::ioctl(fd, TCSETS2, &impl_->saved);
    impl_->fd.Reset();
    impl_->haveSaved = false;
    impl_->seenErrors.reset();
}

void Port::Purge() {
    if (::ioctl(impl_->Fd("::PurgeComm"), TCFLSH, TCIOFLUSH) != 0)
        RaiseSystemError(MY_HERE, errno, "::PurgeComm");
}

size_t Port::BytesAvailable() {
    const int fd = impl_->Fd("::ClearCommError");
    int waiting = 0;
    if (::ioctl(fd, FIONREAD, &waiting) != 0) RaiseSystemError(MY_HERE, errno, "::ClearCommError");
    uint32_t errors = 0;
    if (impl_->seenErrors) {
        if (std::optional<LineErrorCounts> now = impl_->ReadErrorCounts()) {
            errors = LineErrorFlags(*impl_->seenErrors, *now);
            impl_->seenErrors = now;  // reported once, like the platform's clearing call
        }
    }
    if (waiting == 0 && impl_->HungUp()) RaiseSystemError(MY_HERE, EIO, "::ClearCommError");
    if (HasMaskCriticalError(errors)) RaiseClearCommError(MY_HERE, errors);
    return static_cast<size_t>(std::max(waiting, 0));
}

size_t Port::DoWrite(const uint8_t* buffer, size_t count) {
    const int fd = impl_->Fd("::WriteFile");
    const COMMTIMEOUTS& t = impl_->settings.timeouts;
    const std::optional<Clock::time_point> deadline = TotalDeadline(
        Clock::now(), t.WriteTotalTimeoutMultiplier, t.WriteTotalTimeoutConstant, count);
    size_t done = 0;
    bool hangup = false;
    while (done < count) {
        const ssize_t r = ::write(fd, buffer + done, count - done);
        if (r > 0) {
            done += static_cast<size_t>(r);
            hangup = false;
            continue;
        }
        if (r < 0 && errno == EINTR) continue;
        if (r < 0 && errno != EAGAIN) RaiseSystemError(MY_HERE, errno, "::WriteFile");
        if (hangup) RaiseSystemError(MY_HERE, EIO, "::WriteFile");
        // The output queue is full: wait for room until the total timeout.
        const int waitMs = WaitMs(deadline);
        if (waitMs == 0) break;
        pollfd p{fd, POLLOUT, 0};
        const int pr = ::poll(&p, 1, waitMs);
        if (pr < 0 && errno != EINTR) RaiseSystemError(MY_HERE, errno, "::WriteFile");
        if (pr > 0 && HangupEvents(p.revents)) hangup = true;
    }
    if (done < count)
        Raise<MyException>(
            MY_HERE, Format("%s, ошибка записи - записано %d байт из %d!", Description().c_str(),
                            static_cast<int>(done), static_cast<int>(count)));
    return count;
}

size_t Port::DoRead(uint8_t* buffer, size_t count) {
    const int fd = impl_->Fd("::ReadFile");
    if (count == 0) return 0;
    const COMMTIMEOUTS& t = impl_->settings.timeouts;
    // Whatever is waiting, at once.
    const bool immediate = t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 &&
                           t.ReadTotalTimeoutConstant == 0;
    // Whatever is waiting; if nothing, the first byte to arrive within the constant.
    const bool firstByte =
        t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == MAXDWORD &&
        t.ReadTotalTimeoutConstant != 0 && t.ReadTotalTimeoutConstant != MAXDWORD;
    const bool interval = !immediate && !firstByte && t.ReadIntervalTimeout != 0;
    const Clock::time_point start = Clock::now();
    std::optional<Clock::time_point> total;
    if (firstByte)
        total = start + std::chrono::milliseconds(t.ReadTotalTimeoutConstant);
    else if (!immediate)
        total =
            TotalDeadline(start, t.ReadTotalTimeoutMultiplier, t.ReadTotalTimeoutConstant, count);

    size_t got = 0;
    Clock::time_point lastByte = start;
    bool hangup = false;
    for (;;) {
        const ssize_t r = ::read(fd, buffer + got, count - got);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0 && errno != EAGAIN) RaiseSystemError(MY_HERE, errno, "::ReadFile");
        if (r > 0) {
            got += static_cast<size_t>(r);
            lastByte = Clock::now();
            hangup = false;
            if (got == count || firstByte) return got;
            continue;
        }
        // Nothing waiting. After a hang-up report, nothing means the device is gone.
        if (hangup) RaiseSystemError(MY_HERE, EIO, "::ReadFile");
        std::optional<Clock::time_point> deadline = total;
        if (interval && got > 0) {
            const Clock::time_point gap =
                lastByte + std::chrono::milliseconds(t.ReadIntervalTimeout);
            deadline = deadline ? std::min(*deadline, gap) : gap;
        }
        const int waitMs = immediate ? 0 : WaitMs(deadline);
        pollfd p{fd, POLLIN, 0};
        const int pr = ::poll(&p, 1, waitMs);
        if (pr < 0) {
            if (errno == EINTR) continue;
            RaiseSystemError(MY_HERE, errno, "::ReadFile");
        }
        if (pr > 0) {
            // Read again: bytes left before a hang-up come first.
            if (HangupEvents(p.revents)) hangup = true;
            continue;
        }
        if (waitMs == 0 || WaitMs(deadline) == 0) return got;
    }
}

}  // namespace my::RS232
