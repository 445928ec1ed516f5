#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "frame/message_box.h"

namespace test {

// A fresh, empty folder for one test (under $ZELMAR_TEST_TMP or /tmp), removed at exit.
std::string MakeTempDir(const std::string& tag);
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& text);
bool FileExists(const std::string& path);

// Points ZELMAR_HOME at a fresh folder for the lifetime of the object.
class ScopedHome {
public:
    explicit ScopedHome(const std::string& tag);
    ~ScopedHome();
    const std::string& Dir() const { return dir_; }

private:
    std::string dir_;
    std::string saved_;
    bool hadSaved_ = false;
};

// Records every message box instead of showing it.
struct RecordedBox {
    std::string text;
    std::string caption;
    unsigned type = 0;
};

class BoxRecorder {
public:
    BoxRecorder();
    ~BoxRecorder();
    const std::vector<RecordedBox>& Boxes() const { return boxes_; }
    void Clear() { boxes_.clear(); }

private:
    std::vector<RecordedBox> boxes_;
    MessageBoxHook prev_;
};

// The console's screen buffer as text, one row per element (trailing blanks trimmed), from
// the first row to the last row that holds anything.
std::vector<std::string> ConsoleRows();
std::string ConsoleText();
// Clears the console and allocates it, so a test sees only its own lines.
void ResetConsole();

}  // namespace test

namespace test {

// Collects everything printed on the console while it lives (through the console's echo).
class ConsoleCapture {
public:
    ConsoleCapture();
    ~ConsoleCapture();
    std::string Text() const;

private:
    int fd_ = -1;
    std::string path_;
};

}  // namespace test

#include <atomic>
#include <mutex>

#include "transfer/transfer_control.h"

namespace test {

// The message of the MyException that f raises, or "<no error>".
std::string ErrorOf(const std::function<void()>& f);

// A transfer control for tests: stops when `stop` is set or `stopWhen` says so, pauses for
// Wait, and records the wait-window calls ("show:<text>[ [p]]", "hide", "progress:p,max,min").
class TestControl : public TransferControl {
public:
    bool ShouldStop() const override { return stop.load() || (stopWhen && stopWhen()); }
    void Wait(int ms, bool showProgress) override;
    void ShowWait(const std::string& text, bool withProgress) override;
    void HideWait() override;
    void SetProgress(int position, int max, int min) override;
    std::vector<std::string> Calls() const;
    void ClearCalls();

    std::atomic<bool> stop{false};
    std::function<bool()> stopWhen;
    std::atomic<int> waits{0};

private:
    void Record(const std::string& call);
    mutable std::mutex mutex_;
    std::vector<std::string> calls_;
};

// Installs a control for its lifetime.
class ScopedTransferControl {
public:
    explicit ScopedTransferControl(TransferControl* c) : prev_(SetTransferControl(c)) {}
    ~ScopedTransferControl() { SetTransferControl(prev_); }

private:
    TransferControl* prev_;
};

}  // namespace test
