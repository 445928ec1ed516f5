#pragma once

#include <string>

#include "transfer/wait_window.h"

namespace cli {

// The wait window of the command-line tool: one line on stderr, rewritten in place, with the
// progress when there is one. Shown only when stderr is a terminal.
class StderrWaitWindow : public HeadlessWaitWindow {
public:
    StderrWaitWindow();
    ~StderrWaitWindow() override;
    void SetCaption(const std::string& text) override;
    void CenterAndShow() override;
    void Hide() override;
    void Repaint() override;
    void SetPosition(int v) override;

private:
    void Draw();
    void Erase();
    bool tty_;
    bool drawn_ = false;
    std::string lastLine_;
};

}  // namespace cli
