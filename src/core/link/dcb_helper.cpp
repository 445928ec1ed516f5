#include "link/dcb_helper.h"

#include <array>

#include "frame/format.h"
#include "frame/ini_file.h"
#include "frame/my_exception.h"
#include "link/rs232_port.h"

namespace {

struct FieldDef {
    enum Kind { Whole, FlagBits, Word, Byte };
    const char* name;
    Kind kind;
    unsigned shift = 0;  // FlagBits
    unsigned width = 0;  // FlagBits
    uint16_t DCB::*word = nullptr;
    uint8_t DCB::*byte = nullptr;
};

constexpr FieldDef Bits(const char* name, unsigned shift, unsigned width) {
    return {name, FieldDef::FlagBits, shift, width, nullptr, nullptr};
}
constexpr FieldDef WordField(const char* name, uint16_t DCB::*m) {
    return {name, FieldDef::Word, 0, 0, m, nullptr};
}
constexpr FieldDef ByteField(const char* name, uint8_t DCB::*m) {
    return {name, FieldDef::Byte, 0, 0, nullptr, m};
}

constexpr std::array<FieldDef, DCB_FIELDS_COUNT> kFields = {{
    {"BaudRate", FieldDef::Whole, 0, 0, nullptr, nullptr},
    Bits("fBinary", 0, 1),
    Bits("fParity", 1, 1),
    Bits("fOutxCtsFlow", 2, 1),
    Bits("fOutxDsrFlow", 3, 1),
    Bits("fDtrControl", 4, 2),
    Bits("fDsrSensitivity", 6, 1),
    Bits("fTXContinueOnXoff", 7, 1),
    Bits("fOutX", 8, 1),
    Bits("fInX", 9, 1),
    Bits("fErrorChar", 10, 1),
    Bits("fNull", 11, 1),
    Bits("fRtsControl", 12, 2),
    Bits("fAbortOnError", 14, 1),
    WordField("XonLim", &DCB::XonLim),
    WordField("XoffLim", &DCB::XoffLim),
    ByteField("ByteSize", &DCB::ByteSize),
    ByteField("Parity", &DCB::Parity),
    ByteField("StopBits", &DCB::StopBits),
    ByteField("XonChar", &DCB::XonChar),
    ByteField("XoffChar", &DCB::XoffChar),
    ByteField("ErrorChar", &DCB::ErrorChar),
    ByteField("EofChar", &DCB::EofChar),
    ByteField("EvtChar", &DCB::EvtChar),
}};

const FieldDef& Field(unsigned idx) {
    MY_CHECK_TEXT(idx < DCB_FIELDS_COUNT, "idx<DCB_FIELDS_COUNT");
    return kFields[idx];
}

// The timeouts and the queue sizes follow the 24 fields in the key form.
struct ExtraKey {
    const char* name;
    uint32_t COMMTIMEOUTS::*timeout;
    uint32_t PortSettings::*queue;
};

constexpr std::array<ExtraKey, 7> kExtraKeys = {{
    {"ReadIntervalTimeout", &COMMTIMEOUTS::ReadIntervalTimeout, nullptr},
    {"ReadTotalTimeoutMultiplier", &COMMTIMEOUTS::ReadTotalTimeoutMultiplier, nullptr},
    {"ReadTotalTimeoutConstant", &COMMTIMEOUTS::ReadTotalTimeoutConstant, nullptr},
    {"WriteTotalTimeoutMultiplier", &COMMTIMEOUTS::WriteTotalTimeoutMultiplier, nullptr},
    {"WriteTotalTimeoutConstant", &COMMTIMEOUTS::WriteTotalTimeoutConstant, nullptr},
    {"txdBuffSize", nullptr, &PortSettings::inQueueSize},
    {"rxdBuffSize", nullptr, &PortSettings::outQueueSize},
}};

constexpr uint32_t kDefaultQueueSize = 1024;

}  // namespace

std::string DcbFieldName(unsigned idx) {
    return Field(idx).name;
}

uint32_t GetDcbField(const DCB& dcb, unsigned idx) {
    const FieldDef& f = Field(idx);
    switch (f.kind) {
        case FieldDef::Whole:
            return dcb.BaudRate;
        case FieldDef::FlagBits:
            return dcb.Bits(f.shift, f.width);
        case FieldDef::Word:
            return dcb.*f.word;
        case FieldDef::Byte:
            return dcb.*f.byte;
    }
    return 0;
}

void SetDcbField(DCB& dcb, unsigned idx, uint32_t value) {
    const FieldDef& f = Field(idx);
    switch (f.kind) {
        case FieldDef::Whole:
            dcb.BaudRate = value;
            break;
        case FieldDef::FlagBits:
            dcb.SetBits(f.shift, f.width, value);
            break;
        case FieldDef::Word:
            dcb.*f.word = static_cast<uint16_t>(value & 0xFFFFu);
            break;
        case FieldDef::Byte:
            dcb.*f.byte = static_cast<uint8_t>(value & 0xFFu);
            break;
    }
}

bool DcbDiffers(const DCB& a, const DCB& b) {
    if (a.DCBlength != b.DCBlength) return true;
    for (unsigned i = 0; i < DCB_FIELDS_COUNT; ++i)
        if (GetDcbField(a, i) != GetDcbField(b, i)) return true;
    return false;
}

void WritePortSettings(const PortSettings& settings, IniFile& ini, const std::string& section) {
    for (unsigned i = 0; i < DCB_FIELDS_COUNT; ++i)
        ini.WriteString(section, kFields[i].name, Format("%u", GetDcbField(settings.dcb, i)));
    for (const ExtraKey& k : kExtraKeys) {
        const uint32_t v = k.timeout ? settings.timeouts.*k.timeout : settings.*k.queue;
        ini.WriteString(section, k.name, Format("%u", v));
    }
}

void ReadPortSettings(PortSettings& settings, const IniFile& ini, const std::string& section) {
    const my::RS232::ModuleVariablesT& defaults = my::RS232::ModuleVariablesT::Instance();
    for (unsigned i = 0; i < DCB_FIELDS_COUNT; ++i)
        SetDcbField(settings.dcb, i,
                    ini.ReadUInt32(section, kFields[i].name, GetDcbField(defaults.dcb, i)));
    for (const ExtraKey& k : kExtraKeys) {
        if (k.timeout)
            settings.timeouts.*k.timeout =
                ini.ReadUInt32(section, k.name, defaults.timeouts.*k.timeout);
        else
            settings.*k.queue = ini.ReadUInt32(section, k.name, kDefaultQueueSize);
    }
}

std::string PerPortSettingsPath() {
    return ExeFolder() + "MyCommPortsSetings.ini";
}

void SavePerPortSettings(const std::string& name, const PortSettings& settings) {
    if (name.empty()) return;
    IniFile ini(PerPortSettingsPath());
    WritePortSettings(settings, ini, name);
}

void LoadPerPortSettings(const std::string& name, PortSettings& settings) {
    if (name.empty()) return;
    IniFile ini(PerPortSettingsPath());
    ReadPortSettings(settings, ini, name);
}
