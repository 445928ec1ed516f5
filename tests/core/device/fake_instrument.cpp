#include "core/device/fake_instrument.h"

#include "device/flash_map.h"
#include "device/zelmar_hrd.h"

namespace test {

namespace {

void Put16(std::vector<uint8_t>& f, uint32_t at, uint16_t v) {
    f[at] = static_cast<uint8_t>(v >> 8);
    f[at + 1] = static_cast<uint8_t>(v);
}

void Put32(std::vector<uint8_t>& f, uint32_t at, uint32_t v) {
    Put16(f, at, static_cast<uint16_t>(v >> 16));
    Put16(f, at + 2, static_cast<uint16_t>(v));
}

}  // namespace

FakeInstrument::FakeInstrument()
    : flash(Zelmar::Flash::kFlashSize, 0xFF),
      port_([this](const std::vector<uint8_t>& r) { return Answer(r); }),
      link_(settings_),
      adapter_(link_) {
    settings_.writeDelayMs = 0;
    settings_.charWaitMs = 0;
    settings_.answerTimeoutMs = 200;
    link_.SetPort(&port_);
    previous_ = Zelmar::SetDeviceLink(this);
}

FakeInstrument::~FakeInstrument() { Zelmar::SetDeviceLink(previous_); }

std::vector<FakePort::Chunk> FakeInstrument::Answer(const std::vector<uint8_t>& r) {
    const uint8_t number = r[3];
    const uint8_t code = r[4];
    if (code == 0x33 || code == 0x35) {
        clockRequests.push_back(r);
        return {{0, AnswerFrame(number, {0x00})}};
    }
    if (code != 0x42) return {};
    const uint32_t addr = static_cast<uint32_t>(r[5]) << 16 | static_cast<uint32_t>(r[6]) << 8 | r[7];
    const uint32_t count = static_cast<uint32_t>(r[8]) + 1;
    if (beforeRead) beforeRead(addr);
    ++reads;
    ++readsAt[addr];
    for (const auto& [range, err] : refused)
        if (addr <= range.second && addr + count - 1 >= range.first)
            return {{0, AnswerFrame(number, {err})}};
    std::vector<uint8_t> data(flash.begin() + addr, flash.begin() + addr + count);
    return {{0, AnswerFrame(number, data)}};
}

void FakeInstrument::WriteHourRecord(uint32_t slot, TDateTime dt, uint8_t t, uint16_t battery,
                                     const uint16_t c[4]) {
    const uint32_t a = Zelmar::Flash::hHour0 + slot * 16;
    const DateParts d = DecodeDate(dt);
    const TimeParts tm = DecodeTime(dt);
    flash[a] = Zelmar::IntToBcd(d.year - 2000);
    flash[a + 1] = Zelmar::IntToBcd(d.month);
    flash[a + 2] = Zelmar::IntToBcd(d.day);
    flash[a + 3] = Zelmar::IntToBcd(tm.hour);
    flash[a + 4] = t;
    flash[a + 5] = 0;
    Put16(flash, a + 6, battery);
    for (int i = 0; i < 4; ++i) Put16(flash, a + 8 + 2 * static_cast<uint32_t>(i), c[i]);
}

void FakeInstrument::WriteMinuteRecord(uint32_t slot, TDateTime dt, uint8_t t, uint8_t evt,
                                       bool fine, uint8_t pressure, const uint16_t c[4]) {
    const uint32_t a = Zelmar::Flash::hMin0 + slot * 32;
    const DateParts d = DecodeDate(dt);
    const TimeParts tm = DecodeTime(dt);
    std::fill(flash.begin() + a, flash.begin() + a + 32, 0);
    flash[a] = Zelmar::IntToBcd(d.year - 2000);
    flash[a + 1] = Zelmar::IntToBcd(d.month);
    flash[a + 2] = Zelmar::IntToBcd(d.day);
    flash[a + 3] = Zelmar::IntToBcd(tm.hour);
    flash[a + 4] = Zelmar::IntToBcd(tm.minute);
    flash[a + 5] = t;
    flash[a + 6] = evt;
    flash[a + 14] = fine ? 1 : 0;
    flash[a + 15] = pressure;
    for (int i = 0; i < 4; ++i) Put16(flash, a + 24 + 2 * static_cast<uint32_t>(i), c[i]);
}

void FakeInstrument::WriteBrokenHourRecord(uint32_t slot) {
    const uint32_t a = Zelmar::Flash::hHour0 + slot * 16;
    std::fill(flash.begin() + a, flash.begin() + a + 16, 0x11);
    flash[a + 1] = 0x13;
}

void FakeInstrument::WriteBrokenMinuteRecord(uint32_t slot) {
    const uint32_t a = Zelmar::Flash::hMin0 + slot * 32;
    std::fill(flash.begin() + a, flash.begin() + a + 32, 0x11);
    flash[a + 1] = 0x13;
}

void FakeInstrument::WriteDescriptor(uint32_t at, uint32_t minuteAddr, uint32_t hourAddr) {
    Put32(flash, at, minuteAddr);
    Put32(flash, at + 4, hourAddr);
}

}  // namespace test
