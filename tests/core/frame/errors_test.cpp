#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

#include "frame/format.h"
#include "frame/my_exception.h"
#include "support/test_support.h"

namespace {

MyExceptionPtr Make(int line, const std::string& file, const std::string& msg,
                    MyExceptionPtr nested = nullptr) {
    return std::make_shared<MyException>(FileLine{line, file}, msg, std::move(nested));
}

TEST(FileLineTest, KeepsOnlyTheFileName) {
    EXPECT_EQ(MakeFileLine(7, "/home/u/src/core/frame/x.cpp").file, "x.cpp");
    EXPECT_EQ(MakeFileLine(7, "C:\\src\\y.cpp").file, "y.cpp");
    EXPECT_EQ(MakeFileLine(7, "z.cpp").file, "z.cpp");
    EXPECT_EQ(MakeFileLine(7, "z.cpp").line, 7);
}

struct TemplateCase {
    const char* templ;
    const char* msg;
    const char* expected;
};

class FormatTemplateTest : public ::testing::TestWithParam<TemplateCase> {};

// The location placeholders are crossed: %eFile gives the line, %eLine the file name.
TEST_P(FormatTemplateTest, ReplacesPlaceholders) {
    const TemplateCase& c = GetParam();
    MyZelmarException e(FileLine{42, "codec.cpp"}, c.msg);
    EXPECT_EQ(FormatMyException(e, c.templ), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Templates, FormatTemplateTest,
    ::testing::Values(
        TemplateCase{"%eMsg %eLine %eFile", "нет ответа", "нет ответа codec.cpp 42"},
        TemplateCase{"%eFile:%eLine\n%eMsg", "нет ответа", "42:codec.cpp\nнет ответа"},
        TemplateCase{"%eClass: %eMsg", "x", "MyZelmarException: x"},
        TemplateCase{"без подстановок", "x", "без подстановок"},
        TemplateCase{"%eMsg%eMsg", "ab", "abab"},
        // Placeholders inside the message are replaced by the later steps.
        TemplateCase{"%eMsg", "строка %eFile", "строка 42"},
        TemplateCase{"%eMsg", "файл %eLine", "файл codec.cpp"},
        // Earlier steps are not applied again, and an inserted text is not searched again.
        TemplateCase{"%eMsg", "класс %eClass", "класс %eClass"},
        TemplateCase{"[%eMsg]", "%eMsg", "[%eMsg]"}));

TEST(FormatChainTest, JoinsEveryLinkWithSeparatorsBetween) {
    MyExceptionPtr chain = Make(1, "a.cpp", "A", Make(2, "b.cpp", "B", Make(3, "c.cpp", "C")));
    EXPECT_EQ(FormatMyExceptionChain(chain, "\n\t", "%eMsg %eLine %eFile"),
              "A a.cpp 1\n\tB b.cpp 2\n\tC c.cpp 3");
    EXPECT_EQ(FormatMyExceptionChain(Make(1, "a.cpp", "A"), "|", "%eMsg"), "A");
    EXPECT_EQ(FormatMyExceptionChain(nullptr, "|", "%eMsg"), "");
}

namespace outer {
struct DeviceError : std::runtime_error {
    using std::runtime_error::runtime_error;
};
}  // namespace outer

template <class Thrower>
MyExceptionPtr Convert(Thrower thrower, FileLine where) {
    try {
        thrower();
    } catch (...) {
        return MyException::FromCurrent(std::move(where));
    }
    ADD_FAILURE() << "nothing was thrown";
    return nullptr;
}

TEST(FromCurrentTest, OwnExceptionIsTheVerySameObject) {
    MyExceptionPtr original;
    try {
        Raise<MyNoAnswerException>(FileLine{10, "io.cpp"}, "нет ответа");
    } catch (const MyExceptionPtr& e) {
        original = e;
    }
    ASSERT_TRUE(original);
    MyExceptionPtr got = Convert([&] { throw original; }, FileLine{99, "site.cpp"});
    EXPECT_EQ(got.get(), original.get());
    EXPECT_EQ(got->GetWhere().line, 10);
    EXPECT_EQ(got->GetWhere().file, "io.cpp");
    EXPECT_EQ(got->GetClassName(), "MyNoAnswerException");
}

struct ForeignCase {
    const char* name;
    std::function<void()> thrower;
    const char* className;
    const char* msg;
};

TEST(FromCurrentTest, ForeignExceptionsAreConverted) {
    const ForeignCase cases[] = {
        {"std", [] { throw std::out_of_range("индекс"); }, "MyStdException",
         "std::out_of_range:индекс"},
        {"std derived", [] { throw outer::DeviceError("x"); }, "MyStdException",
         "(anonymous namespace)::outer::DeviceError:x"},
        {"std::string", [] { throw std::string("текст"); }, "MyException", "текст"},
        {"C string", [] { throw "си-текст"; }, "MyException", "си-текст"},
        {"int", [] { throw 5; }, "MyUnknownException", "Unknown exception"},
        {"null pointer", [] { throw MyExceptionPtr(); }, "MyUnknownException", "Unknown exception"},
    };
    for (const ForeignCase& c : cases) {
        SCOPED_TRACE(c.name);
        MyExceptionPtr e = Convert(c.thrower, FileLine{77, "site.cpp"});
        ASSERT_TRUE(e);
        EXPECT_EQ(e->GetClassName(), c.className);
        EXPECT_EQ(e->GetMsg(), c.msg);
        EXPECT_EQ(e->GetWhere().line, 77);
        EXPECT_EQ(e->GetWhere().file, "site.cpp");
        EXPECT_FALSE(e->GetNested());
    }
}

TEST(FromCurrentTest, ConvertedStdExceptionIsAnExternalException) {
    MyExceptionPtr e = Convert([] { throw std::logic_error("y"); }, MY_HERE);
    EXPECT_NE(dynamic_cast<MyStdException*>(e.get()), nullptr);
    EXPECT_NE(dynamic_cast<MyExternalException*>(e.get()), nullptr);
}

TEST(WindowsErrorTextTest, SystemTextOnOneLine) {
    EXPECT_EQ(WindowsErrorText(0), "");
    const std::string text = WindowsErrorText(ENOENT);
    EXPECT_EQ(text, std::strerror(ENOENT));
    for (unsigned char ch : text) EXPECT_GE(ch, 0x20) << text;
    EXPECT_EQ(WindowsErrorText(123456), "Ошибка win 123456");
}

TEST(MyWindowsExceptionTest, MessageIsSystemTextBlankText) {
    MyWindowsException e(FileLine{5, "port.cpp"}, EACCES, "COM3");
    EXPECT_EQ(e.GetMsg(), WindowsErrorText(EACCES) + " COM3");
    EXPECT_EQ(e.Code(), static_cast<uint32_t>(EACCES));
    EXPECT_EQ(e.GetClassName(), "MyWindowsException");

    errno = ENOTTY;
    MyWindowsException fromErrno(FileLine{6, "port.cpp"}, "COM4");
    EXPECT_EQ(fromErrno.Code(), static_cast<uint32_t>(ENOTTY));
    EXPECT_EQ(fromErrno.GetMsg(), WindowsErrorText(ENOTTY) + " COM4");
}

TEST(MyWindowsExceptionTest, ZeroCodeIsAFailedCheck) {
    try {
        MyWindowsException e(MY_HERE, 0u, "x");
        FAIL() << "constructed with code 0";
    } catch (const MyExceptionPtr& e) {
        EXPECT_EQ(e->GetMsg(), "Попытка возбудить исключение Windows при нулевом коде ошибки!");
    }
}

TEST(CheckTest, FailedCheckCarriesTheCondition) {
    const int len = 40;
    try {
        MY_CHECK(len > 1 && len < 33);
        FAIL();
    } catch (const MyExceptionPtr& e) {
        EXPECT_EQ(e->GetMsg(), "len > 1 && len < 33");
        EXPECT_EQ(e->GetWhere().file, "errors_test.cpp");
    }
    try {
        MY_CHECK_TEXT(len < 0, "!wasCalledOnce");
        FAIL();
    } catch (const MyExceptionPtr& e) {
        EXPECT_EQ(e->GetMsg(), "!wasCalledOnce");
    }
    EXPECT_NO_THROW(MY_CHECK(len == 40));
}

TEST(ShowLastWindowsErrorTest, BoxOnlyForANonZeroCode) {
    test::BoxRecorder boxes;
    ShowLastWindowsError("префикс\n", 0);
    EXPECT_TRUE(boxes.Boxes().empty());
    ShowLastWindowsError("префикс\n", ENOENT);
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].text, "префикс\n" + WindowsErrorText(ENOENT));
    EXPECT_EQ(boxes.Boxes()[0].caption, "Последняя WIN-ошибка.");
    EXPECT_EQ(boxes.Boxes()[0].type, MB_ICONERROR);
}

TEST(FormatTest, LongTextsAreNotCut) {
    const std::string big(1000, 'x');
    EXPECT_EQ(Format("%s-%d", big.c_str(), 12), big + "-12");
    EXPECT_EQ(Format("Ошибка win %d", -1), "Ошибка win -1");
}

}  // namespace
