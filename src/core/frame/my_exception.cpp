#include "frame/my_exception.h"

#include <cxxabi.h>

#include <cstdlib>
#include <cstring>
#include <exception>
#include <typeinfo>

#include "frame/format.h"
#include "frame/message_box.h"
#include "frame/text_utils.h"

FileLine MakeFileLine(int32_t line, const char* path) {
    FileLine fl;
    fl.line = line;
    std::string p = path ? path : "";
    size_t slash = p.find_last_of("/\\");
    fl.file = slash == std::string::npos ? p : p.substr(slash + 1);
    return fl;
}

MyException::MyException(FileLine where, std::string msg, MyExceptionPtr nested)
    : where_(std::move(where)), msg_(std::move(msg)), nested_(std::move(nested)) {}

MyException::~MyException() = default;

namespace {

std::string Demangle(const char* name) {
    int status = 0;
    char* out = abi::__cxa_demangle(name, nullptr, nullptr, &status);
    if (status != 0 || !out) return name;
    std::string s(out);
    std::free(out);
    return s;
}

uint32_t CheckedCode(uint32_t code) {
    // A system-error exception without an error is a programming error at the raise site.
    if (code == 0)
        RaiseFailedCheck(MY_HERE, "Попытка возбудить исключение Windows при нулевом коде ошибки!");
    return code;
}

}  // namespace

MyExceptionPtr MyException::FromCurrent(FileLine where) {
    try {
        throw;
    } catch (const MyExceptionPtr& e) {
        if (e) return e;
        return std::make_shared<MyUnknownException>(where);
    } catch (const std::exception& e) {
        return std::make_shared<MyStdException>(
            where, Demangle(typeid(e).name()) + ":" + e.what());
    } catch (const std::string& s) {
        return std::make_shared<MyException>(where, s);
    } catch (const char* s) {
        return std::make_shared<MyException>(where, s ? s : "");
    } catch (...) {
        return std::make_shared<MyUnknownException>(where);
    }
}

MyWindowsException::MyWindowsException(FileLine where, uint32_t code, const std::string& text,
                                       MyExceptionPtr nested)
    : MyException(std::move(where),
                  Format("%s %s", WindowsErrorText(CheckedCode(code)).c_str(), text.c_str()),
                  std::move(nested)),
      code_(code) {}

MyWindowsException::MyWindowsException(FileLine where, const std::string& text,
                                       MyExceptionPtr nested)
    : MyWindowsException(std::move(where), static_cast<uint32_t>(errno), text, std::move(nested)) {}

void RaiseFailedCheck(FileLine where, const char* condition) {
    Raise<MyException>(std::move(where), std::string(condition));
}

std::string FormatMyException(const MyException& e, const std::string& templ) {
    std::string s = templ;
    s = ReplaceAll(s, "%eClass", e.GetClassName());
    s = ReplaceAll(s, "%eMsg", e.GetMsg());
    // The two location placeholders are crossed on purpose: the program's templates rely on it.
    s = ReplaceAll(s, "%eFile", std::to_string(e.GetWhere().line));
    s = ReplaceAll(s, "%eLine", e.GetWhere().file);
    return s;
}

std::string FormatMyExceptionChain(const MyExceptionPtr& e, const std::string& separator,
                                   const std::string& templ) {
    std::string out;
    for (const MyException* p = e.get(); p; p = p->GetNested().get()) {
        out += FormatMyException(*p, templ);
        if (p->GetNested()) out += separator;
    }
    return out;
}

std::string WindowsErrorText(uint32_t code) {
    if (code == 0) return std::string();
    // The description does not depend on the process locale (a GUI toolkit may set one), and
    // is null for codes the system has no text for.
    const char* text = strerrordesc_np(static_cast<int>(code));
    if (!text) return Format("Ошибка win %d", static_cast<int>(code));
    std::string oneLine;
    for (unsigned char ch : std::string(text))
        if (ch >= 0x20 && ch != 0x7F) oneLine.push_back(static_cast<char>(ch));
    return oneLine;
}

void ShowLastWindowsError(const std::string& prefix, int code) {
    if (code == 0) return;
    MyMessageBox(nullptr, prefix + WindowsErrorText(static_cast<uint32_t>(code)),
                 "Последняя WIN-ошибка.", MB_ICONERROR);
}
