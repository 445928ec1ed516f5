#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// The debug console: our own screen buffer of 80 columns × 9999 rows with a cursor and a
// colour attribute per cell (the Windows console's model). Every trace line of the program
// lands here; the GUI shows it in a console window, and at exit it is dumped into the log.
// Writes from both threads are safe; each write call is atomic.

constexpr int kConsoleWidth = 80;
constexpr int kConsoleHeight = 9999;
constexpr uint16_t kConsoleDefaultAttr = 0x07;  // grey on black

// A colour change: the attribute word a becomes (a | set) & ~clear.
struct ConsoleColor {
    uint16_t set;
    uint16_t clear;
};

extern const ConsoleColor ConColorMagenta;
extern const ConsoleColor ConColorCyan;
extern const ConsoleColor ConColorBlue;
extern const ConsoleColor ConColorRed;
extern const ConsoleColor ConColorYellow;

struct ConsoleCell {
    char32_t ch = U' ';
    uint16_t attr = kConsoleDefaultAttr;
};

struct ConsolePos {
    int x = 0;
    int y = 0;
    bool operator==(const ConsolePos&) const = default;
};

class ConsoleScreenBuffer {
public:
    ConsoleScreenBuffer(int width = kConsoleWidth, int height = kConsoleHeight);

    void Write(const std::string& utf8);  // at the cursor, in the current attribute
    void Clear();

    int Width() const { return width_; }
    int Height() const { return height_; }
    ConsolePos Cursor() const;
    void SetCursor(ConsolePos pos);
    uint16_t Attribute() const;
    void SetAttribute(uint16_t attr);

    // Row y (0 = top) as UTF-8, all width_ characters.
    std::string RowText(int y) const;
    std::vector<ConsoleCell> RowCells(int y) const;
    // Counts every change, so a viewer can tell whether it must repaint.
    uint64_t Version() const;

    // The lock that makes a sequence of calls atomic (the in-place rewrite uses it).
    std::recursive_mutex& Mutex() const { return mutex_; }

private:
    ConsoleCell& At(int x, int y);
    const ConsoleCell& At(int x, int y) const;
    void NewLine();
    void Put(char32_t ch);

    int width_, height_;
    std::vector<ConsoleCell> cells_;
    int top_ = 0;  // ring index of the row shown at y = 0
    ConsolePos cursor_;
    uint16_t attr_ = kConsoleDefaultAttr;
    std::string pending_;  // an incomplete UTF-8 sequence from the previous write
    uint64_t version_ = 0;
    mutable std::recursive_mutex mutex_;
};

// The process-wide console (created once; "!wasCalledOnce").
class GUIConsole {
public:
    static GUIConsole& Instance();

    // Idempotent: computes the log paths and creates the log folder (first time), attaches
    // std::cout, installs the Ctrl+C handler when the process has a terminal, and prints
    // "GUI CON initialized.\n".
    void Allocate();
    // Detaches std::cout and stops accepting text; the buffer keeps its contents.
    void Free();
    bool IsAllocated() const;

    // Dumps the buffer into Log/STDOUT.LOG and archives it under a date folder.
    void DumpToLog();

    ConsoleScreenBuffer& Buffer() { return buffer_; }

    const std::string& LogDir();         // ExeFolder() + "Log"
    const std::string& StdoutLogPath();  // LogDir() + "/STDOUT.LOG"
    const std::string& ArchiveName();    // "log.rar"

    // Copies every printed text to a file descriptor as well (-1 = none); the command-line
    // tool's --trace uses it with stderr.
    void SetEchoFd(int fd);
    // Called after every change of the buffer, on the writing thread.
    void SetChangeListener(std::function<void()> listener);

    // Low level, for the in-place rewrite: writes without echo.
    void WriteRaw(const std::string& text);
    void Print(const std::string& text);

private:
    GUIConsole();
    void NotifyChange();
    void ComputePaths();

    ConsoleScreenBuffer buffer_;
    bool allocated_ = false;
    bool pathsComputed_ = false;
    std::string logDir_, stdoutLogPath_, archiveName_;
    int echoFd_ = -1;
    std::function<void()> listener_;
    mutable std::mutex stateMutex_;
};

// Writes text unchanged (no line break added); does nothing before GUIConsole::Allocate().
void ConsolePrint(const std::string& text);
void ConsolePrintColored(const std::string& text, const ConsoleColor& color);

// Applies a colour for its lifetime and restores the previous attribute word afterwards.
class ConsoleScreenAtrributesHolder {
public:
    explicit ConsoleScreenAtrributesHolder(const ConsoleColor& color);
    ~ConsoleScreenAtrributesHolder();
    ConsoleScreenAtrributesHolder(const ConsoleScreenAtrributesHolder&) = delete;
    ConsoleScreenAtrributesHolder& operator=(const ConsoleScreenAtrributesHolder&) = delete;

private:
    uint16_t saved_;
};

// Rewrites one spot of the console in place (progress counters).
class ConsoleMultioutputHelper {
public:
    ConsoleMultioutputHelper();
    void Print(const std::string& text);

private:
    ConsolePos origin_;
    size_t lastLen_ = 0;
};

namespace myIO {
// Scope trace: "<name>\n" on creation and "<\name>\n" on destruction, on the standard output.
class AutoQuote {
public:
    explicit AutoQuote(std::string name);
    ~AutoQuote();
    AutoQuote(const AutoQuote&) = delete;
    AutoQuote& operator=(const AutoQuote&) = delete;

private:
    std::string name_;
};
}  // namespace myIO

// Number of UTF-8 characters in a text (console columns it takes).
size_t Utf8Length(const std::string& s);
