#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "transfer/main_window_view.h"

namespace test {

// A main window that records what the core writes into it.
class RecordingView : public MainWindowView {
public:
    void ClearContextCells() override {
        for (auto it = cells.begin(); it != cells.end();)
            it = it->first.first >= 1 && it->first.second >= 1 ? cells.erase(it) : std::next(it);
    }
    void SetContextCell(int col, int row, const std::string& text) override { cells[{col, row}] = text; }
    void SetStatusText(int idx, const std::string& text) override {
        status[idx] = text;
        statusHistory.push_back(std::to_string(idx) + ":" + text);
    }
    void SetStatusFontColor(int idx, uint32_t color) override { statusColor[idx] = color; }
    void SetConnectionText(const std::string& text, uint32_t color) override {
        connection = text;
        connectionColor = color;
        connectionHistory.push_back(text);
    }
    void ShowHourArchive(const ArchReadResult& r) override { hourReads.push_back(r); }
    void ShowMinuteArchive(const ArchReadResult& r) override { minuteReads.push_back(r); }

    std::map<std::pair<int, int>, std::string> cells;
    std::map<int, std::string> status;
    std::map<int, uint32_t> statusColor;
    std::vector<std::string> statusHistory;
    std::string connection;
    uint32_t connectionColor = 0;
    std::vector<std::string> connectionHistory;
    std::vector<ArchReadResult> hourReads, minuteReads;
};

}  // namespace test
