// The mapping of line settings onto the kernel's termios, checked in full (a pseudo-terminal
// would not show the word size or the parity enable).
#include "link/tty_line.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <vector>

namespace {

using my::RS232::BuildLineTermios;

// What a freshly opened terminal typically holds: cooked, echoing, with signals.
termios2 CookedTermios() {
    termios2 t{};
    t.c_iflag = ICRNL | IXON | IXANY | IMAXBEL | BRKINT | PARMRK | INPCK | ISTRIP | IGNPAR;
    t.c_oflag = OPOST | ONLCR;
    t.c_cflag = B38400 | CS7 | PARENB | CREAD | HUPCL | CSTOPB | (B1200 << IBSHIFT);
    t.c_lflag = ICANON | ECHO | ECHOE | ECHOK | ECHOCTL | ECHOKE | ISIG | IEXTEN;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 5;
    t.c_cc[VSTART] = 0x11;
    t.c_cc[VSTOP] = 0x13;
    t.c_ispeed = 1200;
    t.c_ospeed = 38400;
    return t;
}

termios2 Built(const DCB& dcb) {
    termios2 t = CookedTermios();
    EXPECT_EQ(BuildLineTermios(dcb, t), 0);
    return t;
}

constexpr tcflag_t kFraming = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;

TEST(TtyLine, DefaultsGiveARaw9600_8N1Line) {
    const termios2 t = Built(MakeDefaultDcb());
    EXPECT_EQ(t.c_cflag & kFraming, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & CBAUD, static_cast<tcflag_t>(B9600));
    EXPECT_EQ(t.c_cflag & CIBAUD, 0u);  // input speed follows the output speed
    EXPECT_EQ(t.c_ospeed, 9600u);
    EXPECT_EQ(t.c_ispeed, 9600u);
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(t.c_cflag & HUPCL, static_cast<tcflag_t>(HUPCL));  // not ours to change
    EXPECT_EQ(t.c_iflag, static_cast<tcflag_t>(IGNBRK));
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ECHOE | ECHOK | ECHONL | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);
    EXPECT_EQ(t.c_cc[VSTART], 0x11);
    EXPECT_EQ(t.c_cc[VSTOP], 0x13);
}

TEST(TtyLine, FramingFlowAndSpeed) {
    struct Case {
        const char* name;
        std::function<void(DCB&)> change;
        tcflag_t framing;  // exactly these of kFraming
        tcflag_t cbaud;
        uint32_t speed;
        tcflag_t iflag;
    };
    const std::vector<Case> cases = {
        {"7 odd",
         [](DCB& d) {
             d.ByteSize = 7;
             d.Parity = ODDPARITY;
         },
         CS7 | PARENB | PARODD, B9600, 9600, IGNBRK},
        {"6 even", [](DCB& d) { d.ByteSize = 6, d.Parity = EVENPARITY; }, CS6 | PARENB, B9600, 9600,
         IGNBRK},
        {"mark", [](DCB& d) { d.Parity = MARKPARITY; }, CS8 | PARENB | PARODD | CMSPAR, B9600, 9600,
         IGNBRK},
        {"space", [](DCB& d) { d.Parity = SPACEPARITY; }, CS8 | PARENB | CMSPAR, B9600, 9600,
         IGNBRK},
        {"two stop", [](DCB& d) { d.StopBits = TWOSTOPBITS; }, CS8 | CSTOPB, B9600, 9600, IGNBRK},
        {"5 bits 1.5 stop", [](DCB& d) { d.ByteSize = 5, d.StopBits = ONE5STOPBITS; }, CS5 | CSTOPB,
         B9600, 9600, IGNBRK},
        {"CTS flow", [](DCB& d) { d.SetfOutxCtsFlow(1); }, CS8 | CRTSCTS, B9600, 9600, IGNBRK},
        {"RTS handshake", [](DCB& d) { d.SetfRtsControl(RTS_CONTROL_HANDSHAKE); }, CS8 | CRTSCTS,
         B9600, 9600, IGNBRK},
        {"XON out", [](DCB& d) { d.SetfOutX(1); }, CS8, B9600, 9600, IGNBRK | IXON},
        {"XON in", [](DCB& d) { d.SetfInX(1); }, CS8, B9600, 9600, IGNBRK | IXOFF},
        {"19200", [](DCB& d) { d.BaudRate = 19200; }, CS8, B19200, 19200, IGNBRK},
        {"115200", [](DCB& d) { d.BaudRate = 115200; }, CS8, B115200, 115200, IGNBRK},
        {"14400", [](DCB& d) { d.BaudRate = 14400; }, CS8, BOTHER, 14400, IGNBRK},
        {"56000", [](DCB& d) { d.BaudRate = 56000; }, CS8, BOTHER, 56000, IGNBRK},
        {"128000", [](DCB& d) { d.BaudRate = 128000; }, CS8, BOTHER, 128000, IGNBRK},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DCB d = MakeDefaultDcb();
        c.change(d);
        const termios2 t = Built(d);
        EXPECT_EQ(t.c_cflag & kFraming, c.framing);
        EXPECT_EQ(t.c_cflag & CBAUD, c.cbaud);
        EXPECT_EQ(t.c_ospeed, c.speed);
        EXPECT_EQ(t.c_ispeed, c.speed);
        EXPECT_EQ(t.c_iflag, c.iflag);
    }
}

TEST(TtyLine, FlowCharactersComeFromTheSettings) {
    DCB d = MakeDefaultDcb();
    d.XonChar = 0x21;
    d.XoffChar = 0xFE;
    const termios2 t = Built(d);
    EXPECT_EQ(t.c_cc[VSTART], 0x21);
    EXPECT_EQ(t.c_cc[VSTOP], 0xFE);
}

TEST(TtyLine, FieldsWithoutLinuxMeaningChangeNothing) {
    const termios2 base = Built(MakeDefaultDcb());
    DCB d = MakeDefaultDcb();
    d.SetfBinary(0);
    d.SetfParity(1);
    d.SetfOutxDsrFlow(1);
    d.SetfDsrSensitivity(1);
    d.SetfTXContinueOnXoff(1);
    d.SetfErrorChar(1);
    d.SetfNull(1);
    d.SetfAbortOnError(1);
    d.XonLim = 1;
    d.XoffLim = 2;
    d.ErrorChar = 0x3F;
    d.EofChar = 0x1A;
    d.EvtChar = 0x7E;
    const termios2 t = Built(d);
    EXPECT_EQ(std::memcmp(&t, &base, sizeof t), 0);
}

TEST(TtyLine, ValuesNoLineCanTakeAreInvalid) {
    const std::vector<std::function<void(DCB&)>> cases = {
        [](DCB& d) { d.BaudRate = 0; },
        [](DCB& d) { d.ByteSize = 4; },
        [](DCB& d) { d.ByteSize = 9; },
        [](DCB& d) { d.Parity = 5; },
        [](DCB& d) { d.StopBits = 3; },
        [](DCB& d) { d.StopBits = ONE5STOPBITS; },                 // only with 5 bits
        [](DCB& d) { d.ByteSize = 5, d.StopBits = TWOSTOPBITS; },  // 5 bits have 1.5
        [](DCB& d) { d.SetfDtrControl(3); },
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        DCB d = MakeDefaultDcb();
        cases[i](d);
        termios2 t = CookedTermios();
        const termios2 before = t;
        EXPECT_EQ(BuildLineTermios(d, t), EINVAL);
        EXPECT_EQ(std::memcmp(&t, &before, sizeof t), 0);  // nothing half-changed
    }
}

}  // namespace
