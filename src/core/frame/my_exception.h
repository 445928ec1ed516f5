#pragma once

#include <cstdint>
#include <memory>
#include <string>

// Source location of a raise or catch site: the line and the bare file name.
struct FileLine {
    int32_t line = 0;
    std::string file;
};

FileLine MakeFileLine(int32_t line, const char* path);

#define MY_HERE (::MakeFileLine(__LINE__, __FILE__))

class MyException;
using MyExceptionPtr = std::shared_ptr<MyException>;

// Root of every failure the program detects. Always thrown and caught as MyExceptionPtr
// (shared ownership lets the worker thread hand an error to the UI thread).
class MyException {
public:
    MyException(FileLine where, std::string msg, MyExceptionPtr nested = nullptr);
    virtual ~MyException();
    virtual std::string GetClassName() const { return "MyException"; }

    const FileLine& GetWhere() const { return where_; }
    const std::string& GetMsg() const { return msg_; }
    const MyExceptionPtr& GetNested() const { return nested_; }

    // Only inside a catch(...) handler: converts the exception being handled.
    static MyExceptionPtr FromCurrent(FileLine where);

private:
    FileLine where_;
    std::string msg_;
    MyExceptionPtr nested_;
};

// The system-error exception. On Linux its code is an errno value.
class MyWindowsException : public MyException {
public:
    MyWindowsException(FileLine where, uint32_t code, const std::string& text,
                       MyExceptionPtr nested = nullptr);
    // Takes the code from errno at the moment of construction.
    MyWindowsException(FileLine where, const std::string& text, MyExceptionPtr nested = nullptr);
    std::string GetClassName() const override { return "MyWindowsException"; }
    uint32_t Code() const { return code_; }

private:
    uint32_t code_;
};

class MyExternalException : public MyException {
public:
    using MyException::MyException;
    std::string GetClassName() const override { return "MyExternalException"; }
};

class MyStdException : public MyExternalException {
public:
    using MyExternalException::MyExternalException;
    std::string GetClassName() const override { return "MyStdException"; }
};

class MyAccessViolationException : public MyExternalException {
public:
    explicit MyAccessViolationException(FileLine where)
        : MyExternalException(std::move(where), "Нарушение границ области памяти модуля") {}
    std::string GetClassName() const override { return "MyAccessViolationException"; }
};

class MyVCLException : public MyExternalException {
public:
    using MyExternalException::MyExternalException;
    std::string GetClassName() const override { return "MyVCLException"; }
};

class MyUnknownException : public MyExternalException {
public:
    explicit MyUnknownException(FileLine where)
        : MyExternalException(std::move(where), "Unknown exception") {}
    std::string GetClassName() const override { return "MyUnknownException"; }
};

class MyZelmarException : public MyException {
public:
    using MyException::MyException;
    std::string GetClassName() const override { return "MyZelmarException"; }
};

class MyNoAnswerException : public MyException {
public:
    using MyException::MyException;
    std::string GetClassName() const override { return "MyNoAnswerException"; }
};

class MyClearCommErrorException : public MyException {
public:
    using MyException::MyException;
    std::string GetClassName() const override { return "MyClearCommErrorException"; }
};

// Raising: build the object and throw it as a pointer to the root class, so that one
// catch(const MyExceptionPtr&) sees every kind.
template <class E, class... Args>
[[noreturn]] void Raise(Args&&... args) {
    throw MyExceptionPtr(std::make_shared<E>(std::forward<Args>(args)...));
}

// A failed check is a programming error; it carries the violated condition as its text.
[[noreturn]] void RaiseFailedCheck(FileLine where, const char* condition);

#define MY_CHECK(cond)                                          \
    do {                                                        \
        if (!(cond)) ::RaiseFailedCheck(MY_HERE, #cond);        \
    } while (0)

// Same, with the condition text given explicitly (for texts that differ from the code).
#define MY_CHECK_TEXT(cond, text)                               \
    do {                                                        \
        if (!(cond)) ::RaiseFailedCheck(MY_HERE, text);         \
    } while (0)

std::string FormatMyException(const MyException& e, const std::string& templ);
std::string FormatMyExceptionChain(const MyExceptionPtr& e, const std::string& separator,
                                   const std::string& templ);

// The system's text for an error code, on one line; "" for 0.
std::string WindowsErrorText(uint32_t code);

// Shows an owner-less error box "prefix + system text" when code is not 0.
void ShowLastWindowsError(const std::string& prefix, int code);
