#include "link/rs232_port.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/link/pty_pair.h"
#include "frame/ini_file.h"
#include "frame/my_exception.h"
#include "link/dcb_helper.h"
#include "support/test_support.h"

namespace {

using my::RS232::Port;
using test::Caught;

struct Event {
    int code;
    size_t count;
    bool operator==(const Event&) const = default;
};

void PrintTo(const Event& e, std::ostream* os) {
    *os << "{" << e.code << "," << e.count << "}";
}

// The handler shares the log, so it outlives whichever of port and test ends first.
std::shared_ptr<std::vector<Event>> Record(Port& port) {
    auto events = std::make_shared<std::vector<Event>>();
    port.SetEventHandler([events](int code, MyPort&, const uint8_t*, size_t count) {
        events->push_back({code, count});
    });
    return events;
}

std::string BusyText(int code, const std::string& name) {
    return WindowsErrorText(static_cast<uint32_t>(code)) + " Порт " + name + " занят!";
}

std::string AbsentText(const std::string& name) {
    return "COM-порт c символическим именем \"" + name + "\" не представлен в системе!";
}

uint32_t SystemCode(const MyExceptionPtr& e) {
    auto* w = dynamic_cast<const MyWindowsException*>(e.get());
    return w ? w->Code() : 0;
}

// Waits until the driver holds at least n received bytes (the pty delivers asynchronously).
size_t WaitAvailable(Port& port, size_t n) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    size_t have = port.BytesAvailable();
    while (have < n && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        have = port.BytesAvailable();
    }
    return have;
}

std::vector<uint8_t> AllByteValues() {
    std::vector<uint8_t> v;
    for (int i = 0; i < 256; ++i) v.push_back(static_cast<uint8_t>(i));
    return v;
}

termios SlaveTermios(const test::PtyPair& pty) {
    termios t{};
    tcgetattr(pty.Slave(), &t);
    return t;
}

class Rs232PortTest : public ::testing::Test {
  protected:
    void SetUp() override { ports.Bind("COM1", pty.SlavePath()); }

    test::ScopedHome home{"rs232"};
    test::ScopedPortsFolder ports;
    test::PtyPair pty;
};

TEST(Rs232PortFresh, IsCom1With9600_8N1DefaultTimeoutsAndClosed) {
    test::ScopedPortsFolder empty;  // no device at all: nothing below may touch one
    Port port;
    EXPECT_EQ(port.Name(), "COM1");
    EXPECT_FALSE(port.IsOpen());
    const PortSettings& s = port.Settings();
    EXPECT_EQ(s.dcb.BaudRate, 9600u);
    EXPECT_EQ(s.dcb.ByteSize, 8);
    EXPECT_EQ(s.dcb.Parity, NOPARITY);
    EXPECT_EQ(s.dcb.StopBits, ONESTOPBIT);
    EXPECT_EQ(s.dcb.fOutxCtsFlow(), 0u);
    EXPECT_EQ(s.dcb.fOutX(), 0u);
    EXPECT_EQ(s.dcb.fInX(), 0u);
    EXPECT_EQ(s.timeouts.ReadIntervalTimeout, 1000u);
    EXPECT_EQ(s.timeouts.ReadTotalTimeoutMultiplier, 50u);
    EXPECT_EQ(s.timeouts.ReadTotalTimeoutConstant, 100u);
    EXPECT_EQ(s.timeouts.WriteTotalTimeoutMultiplier, 100u);
    EXPECT_EQ(s.timeouts.WriteTotalTimeoutConstant, 1000u);
    EXPECT_EQ(s.inQueueSize, 1024u);
    EXPECT_EQ(s.outQueueSize, 1024u);
    EXPECT_EQ(port.Description(), "COM1 9600");

    // Settings no line could take are only kept while closed.
    PortSettings bad = s;
    bad.dcb.ByteSize = 3;
    bad.dcb.BaudRate = 0;
    EXPECT_EQ(Caught([&] { port.ApplySettings(bad); }), nullptr);
    EXPECT_EQ(port.Settings(), bad);
    EXPECT_FALSE(port.IsOpen());
}

TEST_F(Rs232PortTest, EnumeratesOnlyPresentCom1To19) {
    test::PtyPair pty5, pty20;
    ports.Bind("COM5", pty5.SlavePath());
    ports.Bind("COM20", pty20.SlavePath());
    test::WriteFile(ports.Dir() + "/COM7", "not a device");
    ports.Bind("COM9", ports.Dir() + "/nowhere");
    EXPECT_EQ(my::RS232::EnumComPorts(), (std::vector<std::string>{"COM1", "COM5"}));

    for (const std::string name : {"COM20", "COM7", "COM9", "com1"}) {
        Port port;
        port.SetName(name);
        MyExceptionPtr e = Caught([&] { port.Open(); });
        ASSERT_TRUE(e) << name;
        EXPECT_EQ(e->GetClassName(), "MyException");
        EXPECT_EQ(e->GetMsg(), AbsentText(name));
        EXPECT_FALSE(port.IsOpen());
    }
}

TEST_F(Rs232PortTest, OpenAndCloseRaiseTheirEvents) {
    Port port;
    auto events = Record(port);
    port.Open();
    EXPECT_TRUE(port.IsOpen());
    port.Open();  // already open: no second device
    port.Close();
    EXPECT_FALSE(port.IsOpen());
    port.Open();
    EXPECT_EQ(*events, (std::vector<Event>{{0, 0}, {0, 0}, {1, 0}, {0, 0}}));
}

TEST_F(Rs232PortTest, BytesPassUnalteredBothWaysInRawMode) {
    Port port;
    auto events = Record(port);
    port.Open();
    const std::vector<uint8_t> all = AllByteValues();  // 0xFF, XON/XOFF, CR, LF, ^C, DEL...

    EXPECT_EQ(port.Write(all.data(), all.size()), all.size());
    EXPECT_EQ(pty.ReadMaster(all.size() + 1, 300), all);  // nothing added, e.g. CR before LF

    pty.WriteMaster(all);
    ASSERT_EQ(WaitAvailable(port, all.size()), all.size());
    std::vector<uint8_t> got(all.size() + 10);
    const size_t n = port.Read(got.data(), port.BytesAvailable());
    got.resize(n);
    EXPECT_EQ(got, all);
    EXPECT_FALSE(pty.MasterHasData(100)) << "the port echoed received bytes";
    EXPECT_EQ(port.BytesAvailable(), 0u);

    EXPECT_EQ(*events, (std::vector<Event>{{0, 0}, {2, 256}, {3, 256}}));
}

TEST_F(Rs232PortTest, ReadOfNothingRaisesTheReadEventWithZero) {
    Port port;
    PortSettings s = port.Settings();
    s.timeouts = {MAXDWORD, 0, 0, 0, 0};
    port.ApplySettings(s);
    port.Open();
    auto events = Record(port);
    uint8_t buf[8];
    EXPECT_EQ(port.Read(buf, sizeof buf), 0u);
    EXPECT_EQ(*events, (std::vector<Event>{{3, 0}}));
}

TEST_F(Rs232PortTest, BusyPortIsRefusedAndOpensOnceFreed) {
    Port first;
    first.Open();
    Port second;
    auto events = Record(second);
    MyExceptionPtr e = Caught([&] { second.Open(); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->GetClassName(), "MyWindowsException");
    EXPECT_EQ(SystemCode(e), static_cast<uint32_t>(EBUSY));
    EXPECT_EQ(e->GetMsg(), BusyText(EBUSY, "COM1"));
    EXPECT_FALSE(second.IsOpen());
    EXPECT_TRUE(events->empty());

    first.Close();
    second.Open();
    EXPECT_TRUE(second.IsOpen());
}

TEST_F(Rs232PortTest, PortLockedByAnotherProgramIsBusy) {
    const int other = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    Port port;
    MyExceptionPtr e = Caught([&] { port.Open(); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->GetMsg(), BusyText(EBUSY, "COM1"));
    EXPECT_FALSE(port.IsOpen());
    ::close(other);
    port.Open();
    EXPECT_TRUE(port.IsOpen());
}

// An unprivileged user meets permissions and a tty held exclusively (TIOCEXCL) by another
// program; root would pass both.
TEST_F(Rs232PortTest, PermissionAndExclusiveHoldShowTheSystemsReason) {
    auto openAsUser = [] {
        std::string msg;
        bool ok = test::RunUnprivileged(
            [] {
                Port port;
                MyExceptionPtr e = Caught([&] { port.Open(); });
                return e ? e->GetMsg() : std::string("opened");
            },
            msg);
        return std::make_pair(ok, msg);
    };

    ASSERT_EQ(::chmod(pty.SlavePath().c_str(), 0), 0);
    auto [ok, msg] = openAsUser();
    if (!ok) GTEST_SKIP() << "cannot switch to an unprivileged user here";
    EXPECT_EQ(msg, BusyText(EACCES, "COM1"));

    ASSERT_EQ(::chmod(pty.SlavePath().c_str(), 0666), 0);
    const int holder = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::ioctl(holder, TIOCEXCL), 0);
    std::tie(ok, msg) = openAsUser();
    EXPECT_EQ(msg, BusyText(EBUSY, "COM1"));
    ::ioctl(holder, TIOCNXCL);
    ::close(holder);
    std::tie(ok, msg) = openAsUser();
    EXPECT_EQ(msg, "opened");
}

struct LineCase {
    const char* name;
    std::function<void(DCB&)> change;
    speed_t speed;  // 0: a rate without a B constant, checked through the kernel's termios2
    uint32_t rate;
    tcflag_t cflagsOn;
    tcflag_t cflagsOff;
    tcflag_t iflagsOn;
    tcflag_t iflagsOff;
    uint8_t vstart, vstop;
};

// A pseudo-terminal always reports CS8 without PARENB whatever it is given (the word size and
// parity enable are checked on the mapping itself); the other bits it keeps.
std::vector<LineCase> LineCases() {
    return {
        {"default 9600 8N1", [](DCB&) {}, B9600, 9600, 0, PARODD | CMSPAR | CSTOPB | CRTSCTS, 0,
         IXON | IXOFF, 0x11, 0x13},
        {"19200 7 odd",
         [](DCB& d) {
             d.BaudRate = 19200;
             d.ByteSize = 7;
             d.Parity = ODDPARITY;
         },
         B19200, 19200, PARODD, CMSPAR | CSTOPB | CRTSCTS, 0, 0, 0x11, 0x13},
        {"even", [](DCB& d) { d.Parity = EVENPARITY; }, B9600, 9600, 0, PARODD | CMSPAR, 0, 0, 0x11,
         0x13},
        {"mark", [](DCB& d) { d.Parity = MARKPARITY; }, B9600, 9600, PARODD | CMSPAR, 0, 0, 0, 0x11,
         0x13},
        {"space", [](DCB& d) { d.Parity = SPACEPARITY; }, B9600, 9600, CMSPAR, PARODD, 0, 0, 0x11,
         0x13},
        {"two stop bits", [](DCB& d) { d.StopBits = TWOSTOPBITS; }, B9600, 9600, CSTOPB, 0, 0, 0,
         0x11, 0x13},
        {"CTS output flow", [](DCB& d) { d.SetfOutxCtsFlow(1); }, B9600, 9600, CRTSCTS, 0, 0, 0,
         0x11, 0x13},
        {"RTS handshake", [](DCB& d) { d.SetfRtsControl(RTS_CONTROL_HANDSHAKE); }, B9600, 9600,
         CRTSCTS, 0, 0, 0, 0x11, 0x13},
        {"XON/XOFF both ways",
         [](DCB& d) {
             d.SetfOutX(1);
             d.SetfInX(1);
             d.XonChar = 0x21;
             d.XoffChar = 0x23;
         },
         B9600, 9600, 0, CRTSCTS, IXON | IXOFF, IXANY, 0x21, 0x23},
        {"115200", [](DCB& d) { d.BaudRate = 115200; }, B115200, 115200, 0, 0, 0, 0, 0x11, 0x13},
        {"14400", [](DCB& d) { d.BaudRate = 14400; }, 0, 14400, 0, 0, 0, 0, 0x11, 0x13},
        {"56000", [](DCB& d) { d.BaudRate = 56000; }, 0, 56000, 0, 0, 0, 0, 0x11, 0x13},
    };
}

void ExpectLine(const test::PtyPair& pty, const LineCase& c) {
    SCOPED_TRACE(c.name);
    const termios t = SlaveTermios(pty);
    if (c.speed) {
        EXPECT_EQ(cfgetospeed(&t), c.speed);
    } else {
        const test::KernelSpeed k = test::SlaveSpeed(pty.Slave());
        EXPECT_TRUE(k.other);
        EXPECT_EQ(k.ospeed, c.rate);
    }
    EXPECT_EQ(t.c_cflag & c.cflagsOn, c.cflagsOn);
    EXPECT_EQ(t.c_cflag & c.cflagsOff, 0u);
    EXPECT_EQ(t.c_iflag & c.iflagsOn, c.iflagsOn);
    EXPECT_EQ(t.c_iflag & c.iflagsOff, 0u);
    EXPECT_EQ(t.c_cc[VSTART], c.vstart);
    EXPECT_EQ(t.c_cc[VSTOP], c.vstop);
    // Raw in every case.
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(t.c_iflag & (PARMRK | ISTRIP | ICRNL | INLCR | IGNCR | INPCK | BRKINT), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);
}

TEST_F(Rs232PortTest, LineSettingsReachTheTtyAtOpenAndWhileOpen) {
    for (const LineCase& c : LineCases()) {
        {
            Port port;
            PortSettings s = port.Settings();
            c.change(s.dcb);
            port.ApplySettings(s);
            port.Open();
            ExpectLine(pty, c);
        }
        Port port;
        port.Open();
        PortSettings s = port.Settings();
        c.change(s.dcb);
        port.ApplySettings(s);
        ExpectLine(pty, c);
        EXPECT_EQ(port.Description(), "COM1 " + std::to_string(c.rate));
    }
}

TEST_F(Rs232PortTest, SettingsNoLineCanTakeFailSetCommState) {
    const std::vector<std::pair<const char*, std::function<void(DCB&)>>> cases = {
        {"9 data bits", [](DCB& d) { d.ByteSize = 9; }},
        {"DTR control 3", [](DCB& d) { d.SetfDtrControl(3); }},
    };
    const std::string text = WindowsErrorText(EINVAL) + " ::SetCommState";
    for (const auto& [name, change] : cases) {
        SCOPED_TRACE(name);
        // While open: refused, the port stays open and usable.
        {
            Port port;
            port.Open();
            PortSettings s = port.Settings();
            change(s.dcb);
            MyExceptionPtr e = Caught([&] { port.ApplySettings(s); });
            ASSERT_TRUE(e);
            EXPECT_EQ(e->GetMsg(), text);
            EXPECT_TRUE(port.IsOpen());
            EXPECT_EQ(port.BytesAvailable(), 0u);
        }
        // At open: the closed event, no descriptor left behind (it would hold the lock).
        Port port;
        auto events = Record(port);
        PortSettings s = port.Settings();
        const PortSettings good = s;
        change(s.dcb);
        port.ApplySettings(s);
        MyExceptionPtr e = Caught([&] { port.Open(); });
        ASSERT_TRUE(e);
        EXPECT_EQ(e->GetMsg(), text);
        EXPECT_FALSE(port.IsOpen());
        EXPECT_EQ(*events, (std::vector<Event>{{1, 0}}));
        port.ApplySettings(good);
        Port other;
        other.Open();
        EXPECT_TRUE(other.IsOpen());
    }
}

TEST_F(Rs232PortTest, ShortWriteNamesTheCountActuallyWritten) {
    Port port;
    PortSettings s = port.Settings();
    s.timeouts.WriteTotalTimeoutMultiplier = 0;
    s.timeouts.WriteTotalTimeoutConstant = 100;
    port.ApplySettings(s);
    port.Open();
    auto events = Record(port);
    const std::vector<uint8_t> big(1 << 20, 0x5A);  // far more than the pty holds unread
    MyExceptionPtr e = Caught([&] { port.Write(big.data(), big.size()); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->GetClassName(), "MyException");
    const size_t delivered = pty.DrainMaster();
    EXPECT_GT(delivered, 0u);
    EXPECT_LT(delivered, big.size());
    EXPECT_EQ(e->GetMsg(), "COM1 9600, ошибка записи - записано " + std::to_string(delivered) +
                               " байт из " + std::to_string(big.size()) + "!");
    EXPECT_TRUE(port.IsOpen());
    EXPECT_TRUE(events->empty());
}

TEST_F(Rs232PortTest, VanishedDeviceRaisesSystemErrorsAndReopensWhenBack) {
    Port port;
    PortSettings s = port.Settings();
    s.timeouts = {MAXDWORD, 0, 0, 0, 0};  // a read that never waits must still see it
    port.ApplySettings(s);
    port.Open();
    pty.CloseMaster();

    const std::vector<std::pair<const char*, std::function<void()>>> calls = {
        {"::ClearCommError", [&] { port.BytesAvailable(); }},
        {"::ReadFile",
         [&] {
             uint8_t b[4];
             port.Read(b, sizeof b);
         }},
        {"::WriteFile",
         [&] {
             const uint8_t b[4] = {1, 2, 3, 4};
             port.Write(b, sizeof b);
         }},
    };
    for (const auto& [step, call] : calls) {
        SCOPED_TRACE(step);
        MyExceptionPtr e = Caught(call);
        ASSERT_TRUE(e);
        EXPECT_EQ(e->GetClassName(), "MyWindowsException");
        EXPECT_EQ(SystemCode(e), static_cast<uint32_t>(EIO));
        EXPECT_EQ(e->GetMsg(), WindowsErrorText(EIO) + " " + step);
    }
    EXPECT_TRUE(port.IsOpen());
    port.Close();

    test::PtyPair back;
    ports.Bind("COM1", back.SlavePath());
    port.Open();
    const std::vector<uint8_t> hello = {0x7E, 0xFF, 0x00};
    EXPECT_EQ(port.Write(hello.data(), hello.size()), hello.size());
    EXPECT_EQ(back.ReadMaster(hello.size()), hello);
}

TEST_F(Rs232PortTest, DescriptionIsNameAndBaud) {
    Port port;
    port.SetName("COM3");
    PortSettings s = port.Settings();
    s.dcb.BaudRate = 19200;
    port.ApplySettings(s);
    EXPECT_EQ(port.Description(), "COM3 19200");
}

TEST_F(Rs232PortTest, SetNameStoresCurrentSettingsUnderTheNewNameAndReopens) {
    test::PtyPair pty2;
    ports.Bind("COM2", pty2.SlavePath());
    // What the file held for COM2 before gives way to the port's current settings.
    {
        IniFile ini(PerPortSettingsPath());
        ini.WriteString("COM2", "BaudRate", "1200");
        ini.WriteString("COM2", "ByteSize", "7");
    }
    Port port;
    PortSettings s = port.Settings();
    s.dcb.BaudRate = 19200;
    s.timeouts.ReadIntervalTimeout = 77;
    port.ApplySettings(s);
    port.Open();
    auto events = Record(port);

    port.SetName("COM2");
    EXPECT_EQ(*events, (std::vector<Event>{{1, 0}, {0, 0}}));
    EXPECT_TRUE(port.IsOpen());
    EXPECT_EQ(port.Name(), "COM2");
    EXPECT_EQ(port.Settings(), s);
    IniFile ini(PerPortSettingsPath());
    EXPECT_EQ(ini.ReadString("COM2", "BaudRate", ""), "19200");
    EXPECT_EQ(ini.ReadString("COM2", "ByteSize", ""), "8");
    EXPECT_EQ(ini.ReadString("COM2", "ReadIntervalTimeout", ""), "77");
    const termios t2 = SlaveTermios(pty2);
    EXPECT_EQ(cfgetospeed(&t2), B19200);
    const uint8_t b[2] = {0x42, 0x24};
    port.Write(b, sizeof b);
    EXPECT_EQ(pty2.ReadMaster(2), (std::vector<uint8_t>{0x42, 0x24}));
    // COM1 is free again.
    Port other;
    other.Open();

    events->clear();
    port.SetName("COM2");  // same name: nothing happens
    EXPECT_TRUE(events->empty());

    port.Close();
    events->clear();
    port.SetName("COM1");  // closed: stays closed
    EXPECT_EQ(*events, (std::vector<Event>{{1, 0}}));
    EXPECT_FALSE(port.IsOpen());
    EXPECT_TRUE(ini.SectionExists("COM1"));
}

TEST_F(Rs232PortTest, SaveAndLoadSettingsWithThePortName) {
    test::PtyPair pty2;
    ports.Bind("COM2", pty2.SlavePath());
    IniFile ini(home.Dir() + "/config.ini");
    {
        Port port;
        PortSettings s = port.Settings();
        s.dcb.BaudRate = 38400;
        s.outQueueSize = 4096;
        port.ApplySettings(s);
        port.SetName("COM2");
        port.SaveSettings(ini, "COMPORT");
    }
    std::vector<std::string> keys = ini.ReadSection("COMPORT");
    ASSERT_EQ(keys.size(), 32u);
    EXPECT_EQ(keys.back(), "Порт");
    EXPECT_EQ(ini.ReadString("COMPORT", "Порт", ""), "COM2");

    // What "COMPORT" holds takes effect, missing keys take the defaults.
    ini.DeleteKey("COMPORT", "rxdBuffSize");
    ini.WriteString("COMPORT", "Parity", "2");
    Port port;
    port.Open();
    port.LoadSettings(ini, "COMPORT");
    EXPECT_EQ(port.Name(), "COM2");
    EXPECT_TRUE(port.IsOpen());
    EXPECT_EQ(port.Settings().dcb.BaudRate, 38400u);
    EXPECT_EQ(port.Settings().dcb.Parity, EVENPARITY);
    EXPECT_EQ(port.Settings().outQueueSize, 1024u);
    const termios t = SlaveTermios(pty2);
    EXPECT_EQ(cfgetospeed(&t), B38400);
}

TEST(Rs232LineErrors, MessageListsFlagTextsInTableOrder) {
    const std::string head =
        "Ошибка приема-передачи СОМ порта:Функция ClearCommError зафиксировала флаги "
        "критических ошибок:";
    const std::string brk = "The hardware detected a break condition.";
    const std::string frame = "The hardware detected a framing error.";
    const std::string ioe = "An I/O error occurred during communications with the device.";
    const std::string mode =
        "The requested mode is not supported, or the hFile parameter is invalid.";
    const std::string overrun =
        "A character-buffer overrun has occurred. The next character is lost.";
    const std::string rxover =
        "An input buffer overflow has occurred. There is either no room in the input buffer, or "
        "a character was received after the end-of-file (EOF) character.";
    const std::string parity = "The hardware detected a parity error.";
    const std::string txfull =
        "The application tried to transmit a character, but the output buffer was full.";
    const std::vector<std::pair<uint32_t, std::string>> cases = {
        {CE_BREAK | CE_FRAME, ":24:" + brk + frame},
        {CE_TXFULL, ":256:" + txfull},
        {CE_RXPARITY | 0x20, ":36:" + parity},  // a flag outside the table adds no text
        {0x851F, ":34079:" + brk + frame + ioe + mode + overrun + rxover + parity + txfull},
    };
    for (const auto& [code, tail] : cases) {
        SCOPED_TRACE(code);
        EXPECT_TRUE(my::RS232::HasMaskCriticalError(code));
        EXPECT_EQ(my::RS232::ClearCommErrorMessage(code), head + tail);
        MyExceptionPtr e = Caught([&] { my::RS232::RaiseClearCommError(MY_HERE, code); });
        ASSERT_TRUE(e);
        EXPECT_EQ(e->GetClassName(), "MyClearCommErrorException");
        EXPECT_EQ(e->GetMsg(), head + tail);
    }
}

TEST(Rs232LineErrors, WordWithoutCriticalFlagsIsAFailedCheck) {
    for (uint32_t code : {0u, 0x20u, 0x40u, 0x200u, 0x7000u}) {
        SCOPED_TRACE(code);
        EXPECT_FALSE(my::RS232::HasMaskCriticalError(code));
        MyExceptionPtr e = Caught([&] { my::RS232::ClearCommErrorMessage(code); });
        ASSERT_TRUE(e);
        EXPECT_EQ(e->GetMsg(), "my::RS232::HasMaskCriticalError(code)");
    }
}

TEST(Rs232LineErrors, CountersThatMovedBecomeFlags) {
    using C = my::RS232::LineErrorCounts;
    const C seen{5, 6, 7, 8, 0xFFFFFFFFu};
    struct Case {
        C now;
        uint32_t flags;
    };
    const std::vector<Case> cases = {
        {seen, 0},
        {{6, 6, 7, 8, 0xFFFFFFFFu}, CE_FRAME},
        {{5, 9, 7, 8, 0xFFFFFFFFu}, CE_OVERRUN},
        {{5, 6, 8, 8, 0xFFFFFFFFu}, CE_RXPARITY},
        {{5, 6, 7, 9, 0xFFFFFFFFu}, CE_BREAK},
        {{5, 6, 7, 8, 0}, CE_RXOVER},  // a counter that wrapped still moved
        {{6, 6, 7, 9, 0xFFFFFFFFu}, CE_BREAK | CE_FRAME},
    };
    for (const Case& c : cases) EXPECT_EQ(my::RS232::LineErrorFlags(seen, c.now), c.flags);
}

}  // namespace
