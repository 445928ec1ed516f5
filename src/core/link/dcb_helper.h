#pragma once

#include <cstdint>
#include <string>

#include "link/dcb.h"

class IniFile;

// The 24 named fields of the line settings record, addressed by index in stored-key order.
constexpr unsigned DCB_FIELDS_COUNT = 24;

// Key text of a field; an index of DCB_FIELDS_COUNT or more is a programming error.
std::string DcbFieldName(unsigned idx);
// Bit fields give 0/1 or 0-3; 16- and 8-bit fields are taken unsigned.
uint32_t GetDcbField(const DCB& dcb, unsigned idx);
// Stores value truncated to the field's width (BaudRate whole, a flag bit 0, a 2-bit field
// bits 0-1, 16-bit and 8-bit fields their low bits); the other flag bits stay unchanged.
void SetDcbField(DCB& dcb, unsigned idx, uint32_t value);
// True when the two differ in any of the named fields or in DCBlength.
bool DcbDiffers(const DCB& a, const DCB& b);

// The flat key form: the 24 fields, the five timeouts, the two queue sizes, in this order,
// each as unsigned decimal text.
void WritePortSettings(const PortSettings& settings, IniFile& ini, const std::string& section);
// Missing keys take the process-wide defaults (1024 for the queue sizes). Does not touch any
// driver.
void ReadPortSettings(PortSettings& settings, const IniFile& ini, const std::string& section);

// The per-port file, one section per port name, in the settings folder.
std::string PerPortSettingsPath();
// Both do nothing for an empty name.
void SavePerPortSettings(const std::string& name, const PortSettings& settings);
void LoadPerPortSettings(const std::string& name, PortSettings& settings);
