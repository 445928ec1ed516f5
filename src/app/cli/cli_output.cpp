#include "cli/cli_output.h"

#include "frame/format.h"
#include "frame/text_utils.h"

namespace cli {

ContextTable::ContextTable() {
    const char* rows[] = {"Параметр", "Тип ячейки", "Дата регулировки", "ПГС 0", "ПГС 1",
                          "Порог 1",  "Порог 2"};
    for (int r = 0; r < 7; ++r) cells_[static_cast<size_t>(r)][0] = rows[r];
    for (int c = 1; c < 5; ++c) cells_[0][static_cast<size_t>(c)] = Format("Канал %d", c);
}

void ContextTable::ClearData() {
    for (size_t r = 1; r < 7; ++r)
        for (size_t c = 1; c < 5; ++c) cells_[r][c].clear();
}

void ContextTable::Set(int col, int row, const std::string& text) {
    if (col < 0 || col > 4 || row < 0 || row > 6) return;
    cells_[static_cast<size_t>(row)][static_cast<size_t>(col)] = text;
}

const std::string& ContextTable::Get(int col, int row) const {
    return cells_.at(static_cast<size_t>(row)).at(static_cast<size_t>(col));
}

std::string ContextTable::Lines() const {
    std::string out;
    for (const auto& row : cells_) {
        for (size_t c = 0; c < row.size(); ++c) {
            if (c) out += ';';
            out += row[c];
        }
        out += '\n';
    }
    return out;
}

std::string BoundsLine(const Zelmar::ArchiveImpl& arch) {
    return Format("%s: idxEnd_=%u, idx0_=%u\n", arch.Name().c_str(), arch.IdxEnd(), arch.Idx0());
}

void CollectRead(const Zelmar::ArchiveImpl& arch, int32_t first, int32_t last, TDateTime from,
                 TDateTime to, Zelmar::ArchMapT& out) {
    Zelmar::ForEachReadSlot(arch, first, last, from, to, [&](const Zelmar::ArchItem& item) {
        if (item.dateTime >= from && item.dateTime <= to) out[item.dateTime] = item;
    });
}

std::string ReadCsv(const Zelmar::ArchMapT& records, TDateTime from, TDateTime to) {
    std::string out = "idx;date;time;t;battery;pressure;c1;c2;c3;c4;evt\n";
    for (auto it = records.lower_bound(from); it != records.end() && it->first <= to; ++it) {
        const Zelmar::ArchItem& i = it->second;
        out += Format("%d;%s;%s;%.15g;%.15g;%.15g;%.15g;%.15g;%.15g;%.15g;%u\n", i.idx,
                      FormatDateTime("dd.mm.yyyy", i.dateTime).c_str(),
                      FormatDateTime("hh:nn", i.dateTime).c_str(), i.t, i.battery, i.pressure,
                      i.c[0], i.c[1], i.c[2], i.c[3], i.evt);
    }
    return out;
}

std::string FlashDump(uint32_t addr, const std::vector<uint8_t>& bytes) {
    // The console form ends every byte with a blank; scripts get the lines without it.
    const std::string dump = HexDump(bytes.data(), bytes.data() + bytes.size(), "", addr, 6);
    std::string out;
    size_t start = 0;
    while (start <= dump.size()) {
        size_t end = dump.find('\n', start);
        if (end == std::string::npos) end = dump.size();
        std::string line = dump.substr(start, end - start);
        while (!line.empty() && line.back() == ' ') line.pop_back();
        out += line + "\n";
        start = end + 1;
    }
    return out;
}

}  // namespace cli
