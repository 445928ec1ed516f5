#include "device/zelmar_hrd.h"

#include <chrono>
#include <cstring>

#include "device/device_link.h"
#include "device/zelmar_utils.h"
#include "frame/console.h"
#include "frame/format.h"
#include "frame/my_exception.h"
#include "frame/text_utils.h"
#include "link/master_slave_io.h"
#include "link/zelmar_adpt.h"
#include "transfer/transfer_control.h"

namespace Zelmar {

namespace {

void Line(const std::string& text) { ConsolePrintColored(text, ConColorMagenta); }

bool AllBytes(const uint8_t* p, size_t n, uint8_t v) {
    for (size_t i = 0; i < n; ++i)
        if (p[i] != v) return false;
    return true;
}

uint32_t Be32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | p[3];
}

uint16_t Be16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

}  // namespace

void ReadFlash(uint32_t addr, uint8_t* buffer, int count) {
    MY_CHECK_TEXT(count > 1 && count < 33, "len>1 && len<33");
    DeviceLink& link = GetDeviceLink();
    ZelmarAdpt& adapter = link.Adapter();
    adapter.Request(ZelmarAdpt::kCmdReadFlash,
                    {static_cast<uint8_t>(addr >> 16), static_cast<uint8_t>(addr >> 8),
                     static_cast<uint8_t>(addr), static_cast<uint8_t>(count - 1)});
    // A cancelled exchange leaves the previous answer in the buffer; it must never be taken
    // for this address's bytes.
    if (adapter.Link().IsCancelled())
        Raise<MyException>(MY_HERE, "Отмена трансфера! Поток остановлен!");
    if (adapter.AnswerSize() != static_cast<size_t>(count))
        Raise<MyException>(MY_HERE,
                           Format("Ошибка считывания FLASH прибора.\nЗапрошено %d байт\nПолучено %d байт",
                                  count, static_cast<int>(adapter.AnswerSize())));
    std::memcpy(buffer, adapter.AnswerData(), static_cast<size_t>(count));
    if (link.ShowFlash())
        ConsolePrintColored(HexDump(buffer, buffer + count, "Флэш ", addr, 6) + "\n",
                            ConColorYellow);
}

uint8_t ReadFlashByte(uint32_t addr) {
    uint8_t buf[2] = {0xFF, 0x00};
    try {
        ReadFlash(addr, buf, 2);
    } catch (const MyExceptionPtr& e) {
        if (dynamic_cast<MyZelmarException*>(e.get()) &&
            e->GetMsg().find("вернул код ошибки") != std::string::npos)
            return 255;
        throw;
    }
    return buf[0];
}

uint16_t ReadFlashWord(uint32_t addr) {
    uint8_t buf[2];
    ReadFlash(addr, buf, 2);
    return Be16(buf);
}

TDateTime SetDeviceClock() {
    const TDateTime now = Now();
    const DateParts d = DecodeDate(now);
    const TimeParts t = DecodeTime(now);
    ZelmarAdpt& adapter = GetDeviceLink().Adapter();
    adapter.Request(ZelmarAdpt::kCmdSetTime,
                    {IntToBcd(t.hour), IntToBcd(t.minute), IntToBcd(t.second)});
    adapter.Request(ZelmarAdpt::kCmdSetDate,
                    {IntToBcd(d.year - 2000), IntToBcd(d.month), IntToBcd(d.day)});
    return EncodeDateTime(d.year, d.month, d.day, t.hour, t.minute, t.second);
}

void ReadContext(CellContexts& cells) {
    for (int i = 0; i < 4; ++i) {
        const uint32_t base = Flash::hContext0 + Flash::hContextStep * static_cast<uint32_t>(i);
        CellContext c;
        Line(Format("Обращение к контексту ячейки %d\n", i));
        c.type = ReadFlashByte(base);
        c.pgs0 = ReadFlashWord(base + 2) * 0.01;
        c.pgs3 = ReadFlashWord(base + 4) * 0.01;
        c.threshold1 = ReadFlashWord(base + 16) * 0.01;
        c.threshold2 = ReadFlashWord(base + 18) * 0.01;
        uint8_t dt[6];
        ReadFlash(base + 10, dt, 6);
        c.calibrated = BcdToDateTime(dt[3], dt[4], dt[5], dt[0], dt[1]);
        cells[static_cast<size_t>(i)] = c;
        Line("ПГС0=" + FloatToStr(c.pgs0) + ", ПГС3=" + FloatToStr(c.pgs3) +
             ", Порог 1=" + FloatToStr(c.threshold1) + ", Порог 2=" + FloatToStr(c.threshold2) +
             "\n");
    }
}

std::string CellTypeName(uint32_t code) {
    static const char* const names[] = {"O2",  "CO",  "NO",  "NO2", "SO2", "H2S",
                                        "HCl", "NH3", "CL2", "RSH", "датчик без FLASH"};
    return code < sizeof names / sizeof names[0] ? names[code] : std::string();
}

uint8_t IntToBcd(int v) { return static_cast<uint8_t>((v / 10) * 16 + v % 10); }

int BcdToInt(uint8_t b) {
    const int hi = b >> 4, lo = b & 0x0F;
    return lo < 10 ? hi * 10 + lo : hi * 100 + lo;
}

TDateTime BcdToDateTime(uint8_t yy, uint8_t mm, uint8_t dd, uint8_t hh, uint8_t mi) {
    TDateTime out = 0;
    if (!TryEncodeDateTime(BcdToInt(yy) + 2000, BcdToInt(mm), BcdToInt(dd),
                           BcdToInt(static_cast<uint8_t>(hh & 0x7F)), BcdToInt(mi), 0, 0, out))
        return 0;
    return out;
}

namespace {

struct DescriptorSearch {
    Hard::FlasData flash;
    int reads = 0;

    int32_t Search(uint32_t a, uint32_t b) {
        if (GetTransferControl().ShouldStop()) return 0;
        const uint32_t mid = a + (b - a) / 2;
        if (flash.find(mid) == flash.end()) {
            const uint32_t block = mid & ~31u;
            uint8_t buf[32];
            try {
                ReadFlash(block, buf, 32);
            } catch (const MyExceptionPtr&) {
                // A read cut short by a stop ends the search like the stop itself.
                if (GetTransferControl().ShouldStop()) return 0;
                throw;
            }
            for (uint32_t k = 0; k < 32; ++k) flash[block + k] = buf[k];
            ++reads;
        }
        auto iAddy = flash.find(mid);
        MY_CHECK_TEXT(iAddy != flash.end(), "iAddy != flash.end()");
        const uint32_t slot = mid & ~7u;
        uint8_t s[8];
        for (uint32_t k = 0; k < 8; ++k) s[k] = flash.at(slot + k);
        const bool lowBlank = AllBytes(s, 4, 0x00) || AllBytes(s, 4, 0xFF);
        const bool highBlank = AllBytes(s + 4, 4, 0x00) || AllBytes(s + 4, 4, 0xFF);
        if (!lowBlank && !highBlank) return static_cast<int32_t>(slot);
        if (mid < b) {
            int32_t r = Search(mid + 1, b);
            if (r != -1) return r;
        }
        if (mid > a) {
            int32_t r = Search(a, mid);
            if (r != -1) return r;
        }
        return -1;
    }
};

}  // namespace

int32_t FindDescriptor(uint32_t lo, uint32_t hi) {
    DescriptorSearch s;
    const auto t0 = std::chrono::steady_clock::now();
    const int32_t r = s.Search(lo, hi);
    const auto secs = std::chrono::duration_cast<std::chrono::seconds>(
                          std::chrono::steady_clock::now() - t0)
                          .count();
    Line(Format("Поиск дескриптора: %06X, %d обращений, %d байт считано, %d с\n",
                static_cast<uint32_t>(r), s.reads, static_cast<int>(s.flash.size()),
                static_cast<int>(secs)));
    return r;
}

void FindBufferDescriptors(uint32_t& hourAddr, uint32_t& minuteAddr) {
    Line("Поиск дескрипторов буферов\n");
    const uint32_t a = static_cast<uint32_t>(FindDescriptor(Flash::hDescriptor0, Flash::hDescriptor1));
    if (a < Flash::hDescriptor0 || a > Flash::hDescriptor1)
        Raise<MyException>(MY_HERE, "Не найден дескриптор буфера");
    uint8_t d[8];
    ReadFlash(a, d, 8);
    const uint32_t minute = Be32(d);
    const uint32_t hour = Be32(d + 4);
    const std::string text =
        Format("мин:%06X:%d час:%06X:%d", minute,
               static_cast<int>((minute - Flash::hMin0) / Flash::MinuteArray::recSize), hour,
               static_cast<int>((hour - Flash::hHour0) / Flash::HourArray::recSize));
    Line(text + "\n");
    if (minute >= Flash::hMin0 && minute <= Flash::hMin1 && hour >= Flash::hHour0 &&
        hour <= Flash::hHour1) {
        hourAddr = hour;
        minuteAddr = minute;
        return;
    }
    Raise<MyException>(MY_HERE, "Недостоверный дескриптор буфера. " + text);
}

void DecodeHourItem(const uint8_t* raw, uint32_t addy, ArchItem& item) {
    item.dateTime = BcdToDateTime(raw[0], raw[1], raw[2], raw[3], 0);
    item.t = raw[4];
    item.battery = Be16(raw + 6);
    for (int i = 0; i < 4; ++i) item.c[i] = Be16(raw + 8 + 2 * i) * 0.01;
    item.isRead = true;
    item.isErased = AllBytes(raw, 16, 0xFF);
    item.idx = static_cast<int32_t>((addy - Flash::hHour0) / 16);
}

void DecodeMinuteItem(const uint8_t* raw, uint32_t addy, ArchItem& item) {
    item.dateTime = BcdToDateTime(raw[0], raw[1], raw[2], raw[3], raw[4]);
    item.evt = raw[6];
    const double scale = raw[14] != 0 ? 0.001 : 0.01;
    item.t = raw[5];
    for (int i = 0; i < 4; ++i) item.c[i] = Be16(raw + 24 + 2 * i) * scale;
    item.pressure = raw[15] * scale;
    item.idx = static_cast<int32_t>((addy - Flash::hMin0) / 32);
    item.isRead = true;
    item.isErased = AllBytes(raw, 32, 0xFF);
}

void ReadHourItem(uint32_t addy, ArchItem& item) {
    MY_CHECK_TEXT(addy >= Flash::hHour0 && addy <= Flash::hHour1,
                  "addy>=Flash::hHour0 && addy<=Flash::hHour1");
    uint8_t raw[16];
    ReadFlash(addy, raw, 16);
    DecodeHourItem(raw, addy, item);
    Line(HourItemText(item) + "\n");
}

void ReadMinuteItem(uint32_t addy, ArchItem& item) {
    MY_CHECK_TEXT(addy >= Flash::hMin0 && addy <= Flash::hMin1,
                  "addy>=Flash::hMin0 && addy<=Flash::hMin1");
    uint8_t raw[32];
    ReadFlash(addy, raw, 32);
    DecodeMinuteItem(raw, addy, item);
    Line(MinuteItemText(item) + "\n");
}

}  // namespace Zelmar
