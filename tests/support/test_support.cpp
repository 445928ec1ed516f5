#include "support/test_support.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>

#include "frame/console.h"

namespace test {

namespace {
std::mutex g_boxMutex;
}

std::string MakeTempDir(const std::string& tag) {
    const char* base = std::getenv("ZELMAR_TEST_TMP");
    std::string root = base && *base ? base : "/tmp/zelmar-tests";
    std::filesystem::create_directories(root);
    std::string templ = root + "/" + tag + "-XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    char* d = ::mkdtemp(buf.data());
    if (!d) std::abort();
    return std::string(d);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

ScopedHome::ScopedHome(const std::string& tag) : dir_(MakeTempDir(tag)) {
    if (const char* h = std::getenv("ZELMAR_HOME")) {
        saved_ = h;
        hadSaved_ = true;
    }
    ::setenv("ZELMAR_HOME", dir_.c_str(), 1);
}

ScopedHome::~ScopedHome() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
    if (hadSaved_)
        ::setenv("ZELMAR_HOME", saved_.c_str(), 1);
    else
        ::unsetenv("ZELMAR_HOME");
}

BoxRecorder::BoxRecorder() {
    prev_ = SetMessageBoxHook([this](void*, const std::string& text, const std::string& caption,
                                     unsigned type) {
        std::lock_guard<std::mutex> lock(g_boxMutex);
        boxes_.push_back({text, caption, type});
        return IDOK;
    });
}

BoxRecorder::~BoxRecorder() { SetMessageBoxHook(prev_); }

std::vector<std::string> ConsoleRows() {
    ConsoleScreenBuffer& b = GUIConsole::Instance().Buffer();
    std::vector<std::string> rows;
    int last = -1;
    for (int y = 0; y < b.Height(); ++y) {
        std::string r = b.RowText(y);
        while (!r.empty() && r.back() == ' ') r.pop_back();
        rows.push_back(r);
        if (!r.empty()) last = y;
    }
    rows.resize(static_cast<size_t>(last + 1));
    return rows;
}

std::string ConsoleText() {
    std::string out;
    for (const std::string& r : ConsoleRows()) out += r + "\n";
    return out;
}

void ResetConsole() {
    GUIConsole::Instance().Allocate();
    GUIConsole::Instance().Buffer().Clear();
}

}  // namespace test

#include <fcntl.h>

namespace test {

ConsoleCapture::ConsoleCapture() {
    ResetConsole();
    path_ = MakeTempDir("capture") + "/console.txt";
    fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    GUIConsole::Instance().SetEchoFd(fd_);
}

ConsoleCapture::~ConsoleCapture() {
    GUIConsole::Instance().SetEchoFd(-1);
    if (fd_ >= 0) ::close(fd_);
}

std::string ConsoleCapture::Text() const { return ReadFile(path_); }

}  // namespace test

#include <chrono>
#include <thread>

#include "frame/my_exception.h"

namespace test {

std::string ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const MyExceptionPtr& e) {
        return e->GetMsg();
    }
    return "<no error>";
}

void TestControl::Wait(int ms, bool) {
    waits.fetch_add(1);
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end && !ShouldStop())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void TestControl::Record(const std::string& call) {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back(call);
}

void TestControl::ShowWait(const std::string& text, bool withProgress) {
    Record("show:" + text + (withProgress ? " [p]" : ""));
}

void TestControl::HideWait() { Record("hide"); }

void TestControl::SetProgress(int position, int max, int min) {
    Record("progress:" + std::to_string(position) + "," + std::to_string(max) + "," +
           std::to_string(min));
}

std::vector<std::string> TestControl::Calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}

void TestControl::ClearCalls() {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.clear();
}

}  // namespace test
