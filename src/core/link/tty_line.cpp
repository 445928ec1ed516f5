#include "link/tty_line.h"

#include <algorithm>
#include <array>
#include <cerrno>

namespace my::RS232 {

namespace {

struct BaudCode {
    uint32_t rate;
    unsigned code;
};

constexpr std::array<BaudCode, 30> kStandardRates = {{
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
}};

}  // namespace

int BuildLineTermios(const DCB& dcb, termios2& t) {
    if (dcb.BaudRate == 0) return EINVAL;  // B0 would hang the line up
    tcflag_t size;
    switch (dcb.ByteSize) {
        case 5:
            size = CS5;
            break;
        case 6:
            size = CS6;
            break;
        case 7:
            size = CS7;
            break;
        case 8:
            size = CS8;
            break;
        default:
            return EINVAL;
    }
    tcflag_t parity;
    switch (dcb.Parity) {
        case NOPARITY:
            parity = 0;
            break;
        case ODDPARITY:
            parity = PARENB | PARODD;
            break;
        case EVENPARITY:
            parity = PARENB;
            break;
        // CMSPAR turns the odd/even choice into a fixed parity bit: 1 with PARODD, else 0.
        case MARKPARITY:
            parity = PARENB | CMSPAR | PARODD;
            break;
        case SPACEPARITY:
            parity = PARENB | CMSPAR;
            break;
        default:
            return EINVAL;
    }
    tcflag_t stop;
    switch (dcb.StopBits) {
        case ONESTOPBIT:
            stop = 0;
            break;
        // A UART sends 1.5 stop bits for CSTOPB with 5-bit words; other sizes cannot have it.
        case ONE5STOPBITS:
            if (dcb.ByteSize != 5) return EINVAL;
            stop = CSTOPB;
            break;
        case TWOSTOPBITS:
            if (dcb.ByteSize == 5) return EINVAL;
            stop = CSTOPB;
            break;
        default:
            return EINVAL;
    }
    // Both DTR bits set is no defined DTR mode.
    if (dcb.fDtrControl() == 3) return EINVAL;

    // Raw bytes in: no translation, no special characters, no parity marks (a binary protocol
    // must not see 0xFF doubled), no stripping. Errors are reported by the driver's counters,
    // and a break is a line condition, not a NUL byte in the data.
    t.c_iflag &= ~static_cast<tcflag_t>(BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON |
                                        IXOFF | IXANY | INPCK | IGNPAR | IUCLC | IMAXBEL);
    t.c_iflag |= IGNBRK;
    if (dcb.fOutX()) t.c_iflag |= IXON;  // stop sending on XoffChar, resume on XonChar
    if (dcb.fInX()) t.c_iflag |= IXOFF;  // send XoffChar/XonChar as the input queue fills
    // Raw bytes out.
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    // No line editing, echo or signals.
    t.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHOE | ECHOK | ECHONL | ECHOCTL | ECHOKE |
                                        ISIG | IEXTEN);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS |
                                        CBAUD | CIBAUD);
    // CLOCAL: never wait for carrier; CREAD: receive.
    t.c_cflag |= CREAD | CLOCAL | size | parity | stop;
    // Linux has one switch for both CTS-gated output and RTS-driven input.
    if (dcb.fOutxCtsFlow() || dcb.fRtsControl() == RTS_CONTROL_HANDSHAKE) t.c_cflag |= CRTSCTS;

    // An input speed of 0 in CIBAUD means "same as output".
    const auto rate = std::find_if(kStandardRates.begin(), kStandardRates.end(),
                                   [&](const BaudCode& b) { return b.rate == dcb.BaudRate; });
    t.c_cflag |= rate != kStandardRates.end() ? rate->code : BOTHER;
    t.c_ospeed = dcb.BaudRate;
    t.c_ispeed = dcb.BaudRate;

    t.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
    // A read returns what is waiting; the port's own timeouts decide how long to wait.
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    return 0;
}

}  // namespace my::RS232
