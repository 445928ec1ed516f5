#pragma once

#include <functional>
#include <memory>
#include <string>

// The wait window as the core drives it: a strip with a message, an elapsed-time label, a
// progress bar and a cancel panel. The GUI implements it with a real window; the command-line
// tool with a progress line on stderr. Every call is made on the UI thread (the transfer
// manager goes through CallInUiThread).
class WaitWindow {
public:
    virtual ~WaitWindow() = default;

    virtual bool IsVisible() const = 0;
    virtual std::string Caption() const = 0;
    virtual void SetCaption(const std::string& text) = 0;
    // Elapsed-time label back to "00:00:00".
    virtual void ResetElapsed() = 0;
    // Width fitted to the message: its text width + the cancel panel + 100 pixels.
    virtual void FitWidth() = 0;
    // Centred on the screen, shown (topmost) and repainted.
    virtual void CenterAndShow() = 0;
    virtual void Hide() = 0;
    virtual void Repaint() = 0;

    virtual bool IsProgressVisible() const = 0;
    virtual void SetProgressVisible(bool visible) = 0;
    virtual int Position() const = 0;
    virtual int Min() const = 0;
    virtual int Max() const = 0;
    virtual void SetPosition(int v) = 0;
    virtual void SetMin(int v) = 0;
    virtual void SetMax(int v) = 0;

    virtual void SetCancelVisible(bool visible) = 0;
    // What a click on "Отмена" does; assigned by the window's owner.
    virtual void SetCancelAction(std::function<void()> action) = 0;
};

// Makes the wait windows of the process; the GUI and the command-line tool install theirs.
// Without one the core uses a window that only keeps its state (nothing is shown).
using WaitWindowFactory = std::function<std::unique_ptr<WaitWindow>()>;
void SetWaitWindowFactory(WaitWindowFactory factory);
std::unique_ptr<WaitWindow> CreateWaitWindow();

// The state-only window: what the core uses without a GUI, and what tests look at.
class HeadlessWaitWindow : public WaitWindow {
public:
    bool IsVisible() const override { return visible_; }
    std::string Caption() const override { return caption_; }
    void SetCaption(const std::string& text) override { caption_ = text; }
    void ResetElapsed() override { elapsed_ = "00:00:00"; }
    void FitWidth() override {}
    void CenterAndShow() override { visible_ = true; }
    void Hide() override { visible_ = false; }
    void Repaint() override {}
    bool IsProgressVisible() const override { return progressVisible_; }
    void SetProgressVisible(bool v) override { progressVisible_ = v; }
    int Position() const override { return position_; }
    int Min() const override { return min_; }
    int Max() const override { return max_; }
    void SetPosition(int v) override { position_ = v; }
    void SetMin(int v) override { min_ = v; }
    void SetMax(int v) override { max_ = v; }
    void SetCancelVisible(bool v) override { cancelVisible_ = v; }
    void SetCancelAction(std::function<void()> a) override { cancel_ = std::move(a); }

    bool CancelVisible() const { return cancelVisible_; }
    const std::string& Elapsed() const { return elapsed_; }
    void ClickCancel() {
        if (cancel_) cancel_();
    }

private:
    bool visible_ = false;
    std::string caption_ = "Пожалуйста, подождите...";
    std::string elapsed_ = "00:00:00";
    bool progressVisible_ = false;
    int position_ = 0, min_ = 0, max_ = 100;
    bool cancelVisible_ = false;
    std::function<void()> cancel_;
};
