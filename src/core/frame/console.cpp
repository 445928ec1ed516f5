#include "frame/console.h"

#include <signal.h>
#include <unistd.h>

#include <iostream>
#include <streambuf>

#include "frame/date_time.h"
#include "frame/ini_file.h"
#include "frame/log_files.h"
#include "frame/my_exception.h"
#include "frame/ui_call.h"

const ConsoleColor ConColorMagenta{0x0D, 0x02};
const ConsoleColor ConColorCyan{0x0B, 0x04};
const ConsoleColor ConColorBlue{0x09, 0x06};
const ConsoleColor ConColorRed{0x0C, 0x03};
const ConsoleColor ConColorYellow{0x0E, 0x01};

namespace {

// The posted-work slot of the UI-call module that carries Ctrl+C into the UI thread.
constexpr int kCtrlBreakSlot = 0;

void EncodeUtf8(char32_t c, std::string& out) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// std::cout, once attached: unbuffered, so every insertion is one atomic console write.
class ConsoleStreamBuf : public std::streambuf {
protected:
    int_type overflow(int_type ch) override {
        if (ch != traits_type::eof()) {
            char c = static_cast<char>(ch);
            ConsolePrint(std::string(1, c));
        }
        return traits_type::not_eof(ch);
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        ConsolePrint(std::string(s, static_cast<size_t>(n)));
        return n;
    }
};

// Never destroyed: std::cout may still be flushed through it while the process exits.
ConsoleStreamBuf& ConsoleBuf() {
    static ConsoleStreamBuf* buf = new ConsoleStreamBuf;
    return *buf;
}
std::streambuf* g_savedCoutBuf = nullptr;

void OnSigInt(int) { ModuleImpl::PostFromSignalHandler(kCtrlBreakSlot); }

}  // namespace

size_t Utf8Length(const std::string& s) {
    size_t n = 0;
    for (unsigned char c : s)
        if ((c & 0xC0) != 0x80) ++n;
    return n;
}

// ---------------------------------------------------------------------------------------------
ConsoleScreenBuffer::ConsoleScreenBuffer(int width, int height)
    : width_(width), height_(height),
      cells_(static_cast<size_t>(width) * static_cast<size_t>(height)) {}

ConsoleCell& ConsoleScreenBuffer::At(int x, int y) {
    int row = (top_ + y) % height_;
    return cells_[static_cast<size_t>(row) * static_cast<size_t>(width_) + static_cast<size_t>(x)];
}

const ConsoleCell& ConsoleScreenBuffer::At(int x, int y) const {
    int row = (top_ + y) % height_;
    return cells_[static_cast<size_t>(row) * static_cast<size_t>(width_) + static_cast<size_t>(x)];
}

void ConsoleScreenBuffer::NewLine() {
    cursor_.x = 0;
    if (cursor_.y + 1 < height_) {
        ++cursor_.y;
        return;
    }
    // Full: the top row scrolls away and the last row starts empty.
    top_ = (top_ + 1) % height_;
    for (int x = 0; x < width_; ++x) At(x, height_ - 1) = ConsoleCell{U' ', attr_};
}

void ConsoleScreenBuffer::Put(char32_t ch) {
    switch (ch) {
        case U'\n':
            NewLine();
            return;
        case U'\r':
            cursor_.x = 0;
            return;
        case U'\t': {
            int next = (cursor_.x / 8 + 1) * 8;
            while (cursor_.x < next && cursor_.x < width_) {
                At(cursor_.x, cursor_.y) = ConsoleCell{U' ', attr_};
                ++cursor_.x;
            }
            if (cursor_.x >= width_) NewLine();
            return;
        }
        case U'\b':
            if (cursor_.x > 0) --cursor_.x;
            return;
        default:
            break;
    }
    if (ch < 0x20 || ch == 0x7F) return;
    At(cursor_.x, cursor_.y) = ConsoleCell{ch, attr_};
    if (++cursor_.x >= width_) NewLine();
}

void ConsoleScreenBuffer::Write(const std::string& utf8) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    std::string s = pending_ + utf8;
    pending_.clear();
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        size_t len = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3
                                 : (c & 0xF8) == 0xF0 ? 4 : 0;
        if (len == 0) {  // a stray byte: shown as a replacement character
            Put(U'?');
            ++i;
            continue;
        }
        if (i + len > s.size()) {  // the rest of this character comes with the next write
            pending_ = s.substr(i);
            break;
        }
        char32_t cp = len == 1 ? c : c & (0xFF >> (len + 1));
        bool ok = true;
        for (size_t k = 1; k < len; ++k) {
            unsigned char cc = static_cast<unsigned char>(s[i + k]);
            if ((cc & 0xC0) != 0x80) {
                ok = false;
                break;
            }
            cp = (cp << 6) | (cc & 0x3F);
        }
        if (!ok) {
            Put(U'?');
            ++i;
            continue;
        }
        Put(cp);
        i += len;
    }
    ++version_;
}

void ConsoleScreenBuffer::Clear() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    std::fill(cells_.begin(), cells_.end(), ConsoleCell{});
    top_ = 0;
    cursor_ = {};
    attr_ = kConsoleDefaultAttr;
    pending_.clear();
    ++version_;
}

ConsolePos ConsoleScreenBuffer::Cursor() const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return cursor_;
}

void ConsoleScreenBuffer::SetCursor(ConsolePos pos) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    cursor_.x = std::clamp(pos.x, 0, width_ - 1);
    cursor_.y = std::clamp(pos.y, 0, height_ - 1);
    ++version_;
}

uint16_t ConsoleScreenBuffer::Attribute() const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return attr_;
}

void ConsoleScreenBuffer::SetAttribute(uint16_t attr) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    attr_ = attr;
}

std::string ConsoleScreenBuffer::RowText(int y) const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    std::string out;
    if (y < 0 || y >= height_) return out;
    for (int x = 0; x < width_; ++x) EncodeUtf8(At(x, y).ch, out);
    return out;
}

std::vector<ConsoleCell> ConsoleScreenBuffer::RowCells(int y) const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    std::vector<ConsoleCell> row;
    if (y < 0 || y >= height_) return row;
    row.reserve(static_cast<size_t>(width_));
    for (int x = 0; x < width_; ++x) row.push_back(At(x, y));
    return row;
}

uint64_t ConsoleScreenBuffer::Version() const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return version_;
}

// ---------------------------------------------------------------------------------------------
GUIConsole::GUIConsole() {
    static std::atomic<bool> wasCalledOnce{false};
    MY_CHECK_TEXT(!wasCalledOnce.exchange(true), "!wasCalledOnce");
}

GUIConsole& GUIConsole::Instance() {
    // Lives to the very end: static destructors and the worker's last lines may still print.
    static GUIConsole* console = new GUIConsole;
    return *console;
}

void GUIConsole::ComputePaths() {
    if (pathsComputed_) return;
    logDir_ = ExeFolder() + "Log";
    stdoutLogPath_ = logDir_ + "/STDOUT.LOG";
    archiveName_ = "log.rar";
    pathsComputed_ = true;
}

const std::string& GUIConsole::LogDir() {
    std::lock_guard<std::mutex> lock(stateMutex_);
    ComputePaths();
    return logDir_;
}

const std::string& GUIConsole::StdoutLogPath() {
    std::lock_guard<std::mutex> lock(stateMutex_);
    ComputePaths();
    return stdoutLogPath_;
}

const std::string& GUIConsole::ArchiveName() {
    std::lock_guard<std::mutex> lock(stateMutex_);
    ComputePaths();
    return archiveName_;
}

void GUIConsole::Allocate() {
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        if (allocated_) return;
        const bool first = !pathsComputed_;
        ComputePaths();
        if (first) MakeDir(logDir_);
        allocated_ = true;
    }
    if (!g_savedCoutBuf) g_savedCoutBuf = std::cout.rdbuf(&ConsoleBuf());
    // Ctrl+C must not end the process: it is noted on the console instead. Only a process with
    // a terminal receives it.
    if (::isatty(STDIN_FILENO) || ::isatty(STDOUT_FILENO) || ::isatty(STDERR_FILENO)) {
        ModuleImpl::Instance().SetPostedHandler(
            kCtrlBreakSlot, [] { ConsolePrint("\n\t\t---Ctrl+Break pressed!---\n"); });
        struct sigaction sa {};
        sa.sa_handler = OnSigInt;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        sigaction(SIGINT, &sa, nullptr);
    }
    std::cout << "GUI CON initialized.\n";
}

void GUIConsole::Free() {
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        if (!allocated_) return;
        allocated_ = false;
    }
    if (g_savedCoutBuf) {
        std::cout.rdbuf(g_savedCoutBuf);
        g_savedCoutBuf = nullptr;
    }
}

bool GUIConsole::IsAllocated() const {
    std::lock_guard<std::mutex> lock(stateMutex_);
    return allocated_;
}

void GUIConsole::SetEchoFd(int fd) {
    std::lock_guard<std::mutex> lock(stateMutex_);
    echoFd_ = fd;
}

void GUIConsole::SetChangeListener(std::function<void()> listener) {
    std::lock_guard<std::mutex> lock(stateMutex_);
    listener_ = std::move(listener);
}

void GUIConsole::NotifyChange() {
    std::function<void()> l;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        l = listener_;
    }
    if (l) l();
}

void GUIConsole::WriteRaw(const std::string& text) {
    if (!IsAllocated()) return;
    buffer_.Write(text);
    NotifyChange();
}

void GUIConsole::Print(const std::string& text) {
    int fd;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        if (!allocated_) return;
        fd = echoFd_;
    }
    buffer_.Write(text);
    if (fd >= 0) {
        size_t done = 0;
        while (done < text.size()) {
            ssize_t n = ::write(fd, text.data() + done, text.size() - done);
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
    }
    NotifyChange();
}

void GUIConsole::DumpToLog() {
    if (!IsAllocated()) return;
    DumpConsoleBuffer(buffer_, StdoutLogPath());
    const TDateTime now = Now();
    const std::string target = LogDateFolder(now) + "/" + LogTimeName(now) + ".log";
    ArchiveFileWithRar(StdoutLogPath(), target, ArchiveName());
}

void ConsolePrint(const std::string& text) { GUIConsole::Instance().Print(text); }

void ConsolePrintColored(const std::string& text, const ConsoleColor& color) {
    ConsoleScreenAtrributesHolder hold(color);
    ConsolePrint(text);
}

ConsoleScreenAtrributesHolder::ConsoleScreenAtrributesHolder(const ConsoleColor& color) {
    ConsoleScreenBuffer& b = GUIConsole::Instance().Buffer();
    saved_ = b.Attribute();
    b.SetAttribute(static_cast<uint16_t>((saved_ | color.set) & ~color.clear));
}

ConsoleScreenAtrributesHolder::~ConsoleScreenAtrributesHolder() {
    GUIConsole::Instance().Buffer().SetAttribute(saved_);
}

ConsoleMultioutputHelper::ConsoleMultioutputHelper()
    : origin_(GUIConsole::Instance().Buffer().Cursor()) {}

void ConsoleMultioutputHelper::Print(const std::string& text) {
    GUIConsole& con = GUIConsole::Instance();
    ConsoleScreenBuffer& b = con.Buffer();
    // The whole rewrite is one console operation, so the other thread cannot land in between.
    std::lock_guard<std::recursive_mutex> lock(b.Mutex());
    const ConsolePos p = b.Cursor();
    if (lastLen_ != 0) {
        b.SetCursor(origin_);
        con.WriteRaw(std::string(lastLen_, ' '));
        b.SetCursor(origin_);
    }
    con.WriteRaw(text);
    lastLen_ = Utf8Length(text);
    b.SetCursor(p);
}

namespace myIO {
AutoQuote::AutoQuote(std::string name) : name_(std::move(name)) {
    std::cout << "<" << name_ << ">\n";
}
AutoQuote::~AutoQuote() { std::cout << "<\\" << name_ << ">\n"; }
}  // namespace myIO
