#pragma once

#include <functional>
#include <string>

// Message-box types and results, with the platform's values so stored texts and callers
// keep their meaning.
constexpr unsigned MB_OK = 0x00000000;
constexpr unsigned MB_OKCANCEL = 0x00000001;
constexpr unsigned MB_YESNO = 0x00000004;
constexpr unsigned MB_ICONERROR = 0x00000010;
constexpr unsigned MB_ICONQUESTION = 0x00000020;
constexpr unsigned MB_ICONWARNING = 0x00000030;
constexpr unsigned MB_ICONINFORMATION = 0x00000040;
constexpr unsigned MB_SYSTEMMODAL = 0x00001000;
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// The message box the core shows. The GUI installs one that opens a real dialog; without it
// the text goes to stderr. owner is an opaque window of the GUI, or null for owner-less boxes.
using MessageBoxHook = std::function<int(void* owner, const std::string& text,
                                         const std::string& caption, unsigned type)>;

// Installs a hook and returns the previous one (an empty hook restores the stderr default).
MessageBoxHook SetMessageBoxHook(MessageBoxHook hook);

// windowName is the title of the taskbar entry an owner-less box gets where the GUI has one.
int MyMessageBox(void* owner, const std::string& text, const std::string& caption, unsigned type,
                 const std::string& windowName = "");
