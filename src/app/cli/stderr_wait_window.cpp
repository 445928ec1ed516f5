#include "cli/stderr_wait_window.h"

#include <unistd.h>

#include <cstdio>

#include "frame/format.h"

namespace cli {

StderrWaitWindow::StderrWaitWindow() : tty_(::isatty(STDERR_FILENO) == 1) {}

StderrWaitWindow::~StderrWaitWindow() { Erase(); }

void StderrWaitWindow::SetCaption(const std::string& text) {
    HeadlessWaitWindow::SetCaption(text);
    Draw();
}

void StderrWaitWindow::CenterAndShow() {
    HeadlessWaitWindow::CenterAndShow();
    Draw();
}

void StderrWaitWindow::Hide() {
    HeadlessWaitWindow::Hide();
    Erase();
}

void StderrWaitWindow::Repaint() { Draw(); }

void StderrWaitWindow::SetPosition(int v) {
    HeadlessWaitWindow::SetPosition(v);
    Draw();
}

void StderrWaitWindow::Draw() {
    if (!tty_ || !IsVisible()) return;
    std::string line = Caption();
    if (IsProgressVisible() && Max() > Min())
        line += Format(" %d/%d (%d%%)", Position() - Min(), Max() - Min(),
                       (Position() - Min()) * 100 / (Max() - Min()));
    if (line == lastLine_ && drawn_) return;
    lastLine_ = line;
    std::fprintf(stderr, "\r%s\x1b[K", line.c_str());
    std::fflush(stderr);
    drawn_ = true;
}

void StderrWaitWindow::Erase() {
    if (!tty_ || !drawn_) return;
    std::fprintf(stderr, "\r\x1b[K");
    std::fflush(stderr);
    drawn_ = false;
    lastLine_.clear();
}

}  // namespace cli
