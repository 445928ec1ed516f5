#pragma once

#include <cstdint>

// The serial line settings in the platform-neutral form the rest of the program and the
// stored settings use: the same fields, widths and meaning as the Windows control block and
// timeouts record. The serial port maps them onto termios.

constexpr uint8_t NOPARITY = 0;
constexpr uint8_t ODDPARITY = 1;
constexpr uint8_t EVENPARITY = 2;
constexpr uint8_t MARKPARITY = 3;
constexpr uint8_t SPACEPARITY = 4;

constexpr uint8_t ONESTOPBIT = 0;
constexpr uint8_t ONE5STOPBITS = 1;
constexpr uint8_t TWOSTOPBITS = 2;

constexpr uint32_t DTR_CONTROL_DISABLE = 0;
constexpr uint32_t DTR_CONTROL_ENABLE = 1;
constexpr uint32_t DTR_CONTROL_HANDSHAKE = 2;

constexpr uint32_t RTS_CONTROL_DISABLE = 0;
constexpr uint32_t RTS_CONTROL_ENABLE = 1;
constexpr uint32_t RTS_CONTROL_HANDSHAKE = 2;
constexpr uint32_t RTS_CONTROL_TOGGLE = 3;

// Line error flags of the error word.
constexpr uint32_t CE_RXOVER = 0x0001;
constexpr uint32_t CE_OVERRUN = 0x0002;
constexpr uint32_t CE_RXPARITY = 0x0004;
constexpr uint32_t CE_FRAME = 0x0008;
constexpr uint32_t CE_BREAK = 0x0010;
constexpr uint32_t CE_TXFULL = 0x0100;
constexpr uint32_t CE_IOE = 0x0400;
constexpr uint32_t CE_MODE = 0x8000;

constexpr uint32_t MAXDWORD = 0xFFFFFFFFu;

// The line settings record. The bit fields live in one 32-bit word (bit 0 = least
// significant), reached through the accessors so that the layout is fixed.
struct DCB {
    uint32_t DCBlength = 0;
    uint32_t BaudRate = 0;
    uint32_t flags = 0;
    uint16_t wReserved = 0;
    uint16_t XonLim = 0;
    uint16_t XoffLim = 0;
    uint8_t ByteSize = 0;
    uint8_t Parity = 0;
    uint8_t StopBits = 0;
    uint8_t XonChar = 0;
    uint8_t XoffChar = 0;
    uint8_t ErrorChar = 0;
    uint8_t EofChar = 0;
    uint8_t EvtChar = 0;
    uint16_t wReserved1 = 0;

    constexpr uint32_t Bits(unsigned shift, unsigned width) const {
        return (flags >> shift) & ((1u << width) - 1u);
    }
    // Takes the low `width` bits of value; the other flag bits stay as they are.
    constexpr void SetBits(unsigned shift, unsigned width, uint32_t value) {
        const uint32_t mask = ((1u << width) - 1u) << shift;
        flags = (flags & ~mask) | ((value << shift) & mask);
    }

    constexpr uint32_t fBinary() const { return Bits(0, 1); }
    constexpr uint32_t fParity() const { return Bits(1, 1); }
    constexpr uint32_t fOutxCtsFlow() const { return Bits(2, 1); }
    constexpr uint32_t fOutxDsrFlow() const { return Bits(3, 1); }
    constexpr uint32_t fDtrControl() const { return Bits(4, 2); }
    constexpr uint32_t fDsrSensitivity() const { return Bits(6, 1); }
    constexpr uint32_t fTXContinueOnXoff() const { return Bits(7, 1); }
    constexpr uint32_t fOutX() const { return Bits(8, 1); }
    constexpr uint32_t fInX() const { return Bits(9, 1); }
    constexpr uint32_t fErrorChar() const { return Bits(10, 1); }
    constexpr uint32_t fNull() const { return Bits(11, 1); }
    constexpr uint32_t fRtsControl() const { return Bits(12, 2); }
    constexpr uint32_t fAbortOnError() const { return Bits(14, 1); }

    constexpr void SetfBinary(uint32_t v) { SetBits(0, 1, v); }
    constexpr void SetfParity(uint32_t v) { SetBits(1, 1, v); }
    constexpr void SetfOutxCtsFlow(uint32_t v) { SetBits(2, 1, v); }
    constexpr void SetfOutxDsrFlow(uint32_t v) { SetBits(3, 1, v); }
    constexpr void SetfDtrControl(uint32_t v) { SetBits(4, 2, v); }
    constexpr void SetfDsrSensitivity(uint32_t v) { SetBits(6, 1, v); }
    constexpr void SetfTXContinueOnXoff(uint32_t v) { SetBits(7, 1, v); }
    constexpr void SetfOutX(uint32_t v) { SetBits(8, 1, v); }
    constexpr void SetfInX(uint32_t v) { SetBits(9, 1, v); }
    constexpr void SetfErrorChar(uint32_t v) { SetBits(10, 1, v); }
    constexpr void SetfNull(uint32_t v) { SetBits(11, 1, v); }
    constexpr void SetfRtsControl(uint32_t v) { SetBits(12, 2, v); }
    constexpr void SetfAbortOnError(uint32_t v) { SetBits(14, 1, v); }

    bool operator==(const DCB&) const = default;
};
static_assert(sizeof(DCB) == 28, "the line settings record is 28 bytes");

// Milliseconds.
struct COMMTIMEOUTS {
    uint32_t ReadIntervalTimeout = 0;
    uint32_t ReadTotalTimeoutMultiplier = 0;
    uint32_t ReadTotalTimeoutConstant = 0;
    uint32_t WriteTotalTimeoutMultiplier = 0;
    uint32_t WriteTotalTimeoutConstant = 0;
    bool operator==(const COMMTIMEOUTS&) const = default;
};
static_assert(sizeof(COMMTIMEOUTS) == 20, "five 32-bit timeouts");

// 9600 baud, 8 data bits, no parity, one stop bit, no flow control, DTR and RTS off.
constexpr DCB MakeDefaultDcb() {
    DCB d;
    d.DCBlength = sizeof(DCB);
    d.BaudRate = 9600;
    d.SetfBinary(1);
    d.SetfDtrControl(DTR_CONTROL_DISABLE);
    d.SetfRtsControl(RTS_CONTROL_DISABLE);
    d.XonLim = 256;
    d.XoffLim = 256;
    d.ByteSize = 8;
    d.Parity = NOPARITY;
    d.StopBits = ONESTOPBIT;
    d.XonChar = 0x11;
    d.XoffChar = 0x13;
    d.ErrorChar = 0xC0;
    d.EofChar = 0;
    d.EvtChar = 0;
    return d;
}

constexpr COMMTIMEOUTS MakeDefaultTimeouts() {
    COMMTIMEOUTS t;
    t.ReadIntervalTimeout = 1000;
    t.ReadTotalTimeoutMultiplier = 50;
    t.ReadTotalTimeoutConstant = 100;
    t.WriteTotalTimeoutMultiplier = 100;
    t.WriteTotalTimeoutConstant = 1000;
    return t;
}

// Everything that configures the port; copied as a whole.
struct PortSettings {
    uint32_t inQueueSize = 1024;   // receive queue (stored as txdBuffSize)
    uint32_t outQueueSize = 1024;  // transmit queue (stored as rxdBuffSize)
    DCB dcb = MakeDefaultDcb();
    COMMTIMEOUTS timeouts = MakeDefaultTimeouts();
    bool operator==(const PortSettings&) const = default;
};
static_assert(sizeof(PortSettings) == 56, "the settings record is 56 bytes");
