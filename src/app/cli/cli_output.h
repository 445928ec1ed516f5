#pragma once

#include <array>
#include <string>
#include <vector>

#include "device/zelmar_arch.h"

namespace cli {

// The context table as the initialisation fills it: 5 columns × 7 rows with the captions.
class ContextTable {
public:
    ContextTable();
    void ClearData();  // every cell from column 1 and row 1 on
    void Set(int col, int row, const std::string& text);
    const std::string& Get(int col, int row) const;
    // "Параметр;Канал 1;…" and the six data rows, one line each.
    std::string Lines() const;

private:
    std::array<std::array<std::string, 5>, 7> cells_;
};

// "<Name()>: idxEnd_=<n>, idx0_=<n>\n"
std::string BoundsLine(const Zelmar::ArchiveImpl& arch);

// The CSV of a read: the header and one row per date-time in [from, to], ascending.
std::string ReadCsv(const Zelmar::ArchMapT& records, TDateTime from, TDateTime to);
// Collects the records of a read into the date-time map (a later slot replaces an earlier).
void CollectRead(const Zelmar::ArchiveImpl& arch, int32_t first, int32_t last, TDateTime from,
                 TDateTime to, Zelmar::ArchMapT& out);

// Lines of a flash dump: 6-digit address, tab, bytes.
std::string FlashDump(uint32_t addr, const std::vector<uint8_t>& bytes);

}  // namespace cli
