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
