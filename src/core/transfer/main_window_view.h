#pragma once

#include <cstdint>
#include <string>

#include "frame/date_time.h"

// Colours are 24-bit values in blue-green-red byte order.
constexpr uint32_t clNavy = 0x800000;
constexpr uint32_t clRed = 0x0000FF;
constexpr uint32_t clBlack = 0x000000;

// The range a read was asked for and the slots it found (-1 when the range was not found).
struct ArchReadResult {
    TDateTime tFrom = 0;
    TDateTime tTo = 0;
    int32_t first = -1;
    int32_t last = -1;
};

// What the core writes into the main window. The GUI's main window implements it; the
// command-line tool prints. Every call is made on the UI thread. While there is no main
// window the pointer is null and the core skips this work.
class MainWindowView {
public:
    virtual ~MainWindowView() = default;
    // The context table (5 columns × 7 rows; column c + 1 is channel c, row 0 and column 0
    // hold the captions).
    virtual void ClearContextCells() = 0;  // every cell from column 1 and row 1 on
    virtual void SetContextCell(int col, int row, const std::string& text) = 0;
    // Status panels 0…3.
    virtual void SetStatusText(int idx, const std::string& text) = 0;
    virtual void SetStatusFontColor(int idx, uint32_t color) = 0;
    // The connection panel of the toolbar.
    virtual void SetConnectionText(const std::string& text, uint32_t color) = 0;
    // Results of an archive read.
    virtual void ShowHourArchive(const ArchReadResult& r) = 0;
    virtual void ShowMinuteArchive(const ArchReadResult& r) = 0;
};

MainWindowView* GetMainWindow();
void SetMainWindow(MainWindowView* view);
