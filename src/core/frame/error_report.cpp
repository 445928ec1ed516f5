#include "frame/error_report.h"

#include "frame/console.h"
#include "frame/message_box.h"

void ReportCurrentException(const FileLine& where, bool withBox) noexcept {
    try {
        const std::string text =
            FormatMyExceptionChain(MyException::FromCurrent(where), "\n\t", "%eMsg %eLine %eFile");
        ConsolePrintColored("\n" + text + "\n", ConColorRed);
        if (withBox) MyMessageBox(nullptr, text, "ЗЕЛМАР", MB_ICONERROR);
    } catch (...) {
        // Nothing is left to report with.
    }
}
