// Under a double-byte ANSI code page (932, Japanese; 936 and 949 work
// alike), many characters end in the byte 0x5C, a backslash, and some in
// other ASCII bytes. None of them may be read as one. This program runs
// with a Japanese locale, which gives wine's processes code page 932.

#include "harness.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

using namespace harness;

namespace {

struct DoubleByte {
    const char* name;
    std::wstring arg;
    std::wstring written;  // as it must stand on the child's command line
};

void PrintTo(const DoubleByte& d, std::ostream* os) { *os << d.name; }

class CodePage932Test : public testing::TestWithParam<DoubleByte> {};

TEST_P(CodePage932Test, TrailBytesAreNoBackslashes)
{
    ASSERT_EQ(GetACP(), 932u) << "this suite needs LC_ALL=ja_JP.UTF-8";
    const DoubleByte& d = GetParam();
    const std::wstring gui = acp(gui_in(apps_root));
    const Outcome o = run_wide(acp(real_launcher), {d.arg, L"next"});
    ASSERT_TRUE(o.child.ran);
    EXPECT_EQ(o.child.code_page, 932u);
    EXPECT_EQ(o.child.wide_command_line, gui + L" " + d.written + L" next");
    EXPECT_EQ(o.child.wide_argv, child_vector(gui, {d.arg, L"next"}));
    EXPECT_EQ(split_with_shell32(o.child.wide_command_line), child_vector(gui, {d.arg, L"next"}));
    // An ANSI child reads the same arguments in its own code page.
    EXPECT_EQ(o.child.argv, child_vector(gui_in(apps_root), {to_acp(d.arg), "next"}));
}

// ソ is 0x83 0x5C, 表 0x95 0x5C, 能 0x94 0x5C in code page 932.
INSTANTIATE_TEST_SUITE_P(TrailByte5C, CodePage932Test, testing::Values(
    DoubleByte{"AtTheEndOfAWrappedArgument", L"a \u30bd", L"\"a \u30bd\""},
    DoubleByte{"BeforeAQuote", L"\u8868\"", L"\u8868\\\""},
    DoubleByte{"BeforeAQuoteInAWrappedArgument", L"\u30bd\" x", L"\"\u30bd\\\" x\""},
    DoubleByte{"BeforeARealBackslash", L"\u80fd\\", L"\u80fd\\"},
    DoubleByte{"SeveralInARowAtTheEnd", L"x \u30bd\u8868\u80fd", L"\"x \u30bd\u8868\u80fd\""},
    DoubleByte{"Alone", L"\u8868", L"\u8868"}),
    [](const testing::TestParamInfo<DoubleByte>& info) { return std::string(info.param.name); });

TEST(CodePage932, FallbackLinesAndChoiceUnchanged)
{
    ASSERT_EQ(GetACP(), 932u);
    const Outcome o = run_wide(acp(stub_launcher), {L"\u30bd"}, {L"TARVEX_TEST_DISPLAY=none"});
    ASSERT_TRUE(o.child.ran);
    EXPECT_EQ(o.child.wide_argv, child_vector(acp(versioned_cli_in(apps_root)), {L"\u30bd"}));
    EXPECT_EQ(o.err, "tarvex: no graphical display found\r\ntarvex: disabling GUI features\r\n");
}

} // namespace
