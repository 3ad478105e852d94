// Every character arrives: text that the ANSI code page cannot hold, in
// arguments, installation paths and variables, reaches the child exactly,
// as its wide runtime and the system's own splitter read it.

#include "harness.h"
#include "wtf8.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

using namespace harness;

namespace {

// ---- the conversion itself ----

struct Conversion {
    const char* name;
    std::wstring utf16;
    std::string wtf8;
};

void PrintTo(const Conversion& c, std::ostream* os) { *os << c.name; }

class ConversionTest : public testing::TestWithParam<Conversion> {};

TEST_P(ConversionTest, BothWays)
{
    const Conversion& c = GetParam();
    EXPECT_EQ(wtf8_from_utf16(c.utf16.data(), c.utf16.size()), c.wtf8);
    EXPECT_EQ(utf16_from_wtf8(c.wtf8), c.utf16);
}

INSTANTIATE_TEST_SUITE_P(Sequences, ConversionTest, testing::Values(
    Conversion{"Empty", L"", ""},
    Conversion{"Ascii", L"tarvex \"\\\x01\x7f", "tarvex \"\\\x01\x7f"},
    Conversion{"TwoBytes", L"\u0080\u00e9\u03c0\u07ff", "\xc2\x80\xc3\xa9\xcf\x80\xdf\xbf"},
    Conversion{"ThreeBytes", L"\u0800\u8a9e\u3000\uff02\uffff",
               "\xe0\xa0\x80\xe8\xaa\x9e\xe3\x80\x80\xef\xbc\x82\xef\xbf\xbf"},
    Conversion{"FourBytes", L"\U00010000\U0001F600\U0010FFFF",
               "\xf0\x90\x80\x80\xf0\x9f\x98\x80\xf4\x8f\xbf\xbf"},
    Conversion{"LoneHigh", L"a\xd800" L"b", "a\xed\xa0\x80" "b"},
    Conversion{"LoneLow", L"\xdc00", "\xed\xb0\x80"},
    Conversion{"HighAtTheEnd", L"x\xdbff", "x\xed\xaf\xbf"},
    Conversion{"LowBeforeHighIsNoPair", L"\xdfff\xd800", "\xed\xbf\xbf\xed\xa0\x80"},
    Conversion{"HighBeforeHighThenPair", L"\xd800\xd83d\xde00", "\xed\xa0\x80\xf0\x9f\x98\x80"}),
    [](const testing::TestParamInfo<Conversion>& info) { return std::string(info.param.name); });

TEST(Conversion, HighAndLowSurrogateThatMeetFormAPair)
{
    // Each alone, as two strings converted apart and then joined.
    const std::string high = wtf8_from_utf16(L"\xd83d", 1);
    const std::string low = wtf8_from_utf16(L"\xde00", 1);
    EXPECT_EQ(utf16_from_wtf8(high + low), L"\U0001F600");
}

TEST(Conversion, EveryUnitAndPairComesBack)
{
    for (unsigned unit = 1; unit <= 0xFFFF; ++unit) {
        const std::wstring text = {L'<', static_cast<wchar_t>(unit), L'>'};
        ASSERT_EQ(utf16_from_wtf8(wtf8_from_utf16(text.data(), text.size())), text) << unit;
    }
    for (unsigned c = 0x10000; c <= 0x10FFFF; c += 0x3FF) {
        const std::wstring text = {static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10)),
                                   static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF))};
        const std::string bytes = wtf8_from_utf16(text.data(), text.size());
        ASSERT_EQ(bytes.size(), 4u) << c;
        ASSERT_EQ(utf16_from_wtf8(bytes), text) << c;
    }
}

TEST(Conversion, BrokenBytesBecomeReplacementCharacters)
{
    const std::wstring replacement(1, L'\xfffd');
    for (const char* broken : {"\x80", "\xbf", "\xc3", "\xe8\xaa", "\xf0\x9f\x98", "\xc0\x80",
                               "\xe0\x80\x80", "\xf4\x90\x80\x80", "\xf8\x88\x80\x80\x80", "\xff"}) {
        const std::wstring wide = utf16_from_wtf8(std::string("a") + broken + "b");
        EXPECT_EQ(wide.front(), L'a');
        EXPECT_EQ(wide.back(), L'b');
        EXPECT_EQ(wide.find_first_not_of(L"ab\xfffd"), std::wstring::npos);
        EXPECT_NE(wide.find(replacement), std::wstring::npos);
    }
}

// ---- arguments ----

const std::wstring gui = gui_in(acp(apps_root));
const std::wstring cli = cli_in(acp(apps_root));

struct WideArgument {
    const char* name;
    std::wstring arg;
    std::wstring written;  // as it must stand on the child's command line
};

void PrintTo(const WideArgument& a, std::ostream* os) { *os << a.name; }

class WideArgumentTest : public testing::TestWithParam<WideArgument> {};

TEST_P(WideArgumentTest, ReachesTheChildWhole)
{
    const WideArgument& a = GetParam();
    for (const bool command_line_build : {false, true}) {
        const WArgs args = command_line_build ? WArgs{L"--no-gui-libs", a.arg} : WArgs{a.arg};
        const std::wstring& target = command_line_build ? cli : gui;
        const Outcome o = run_wide(acp(real_launcher), args);
        ASSERT_TRUE(o.child.ran);
        EXPECT_EQ(o.child.wide_command_line, target + L" " + a.written);
        EXPECT_EQ(o.child.wide_argv, child_vector(target, {a.arg}));
        EXPECT_EQ(split_with_shell32(o.child.wide_command_line), child_vector(target, {a.arg}));
    }
}

INSTANTIATE_TEST_SUITE_P(Characters, WideArgumentTest, testing::Values(
    WideArgument{"Cjk", L"\u65e5\u672c\u8a9e.txt", L"\u65e5\u672c\u8a9e.txt"},
    WideArgument{"EmojiWithSpace", L"emoji \U0001F600", L"\"emoji \U0001F600\""},
    WideArgument{"CombiningMarks", L"e\u0301a\u0308\u20dd", L"e\u0301a\u0308\u20dd"},
    WideArgument{"CyrillicAndGreek", L"\u03c0\u042f\u97f3\u00e6\u221e", L"\u03c0\u042f\u97f3\u00e6\u221e"},
    WideArgument{"LoneHigh", L"\xd800", L"\xd800"},
    WideArgument{"LoneLow", L"\xdc00" L"b", L"\xdc00" L"b"},
    WideArgument{"HighAtTheEndOfAWrappedArgument", L"x \xdbff", L"\"x \xdbff\""},
    WideArgument{"HighBeforeAQuote", L"\xd800\"", L"\xd800\\\""},
    WideArgument{"IdeographicSpaceSeparatesNothing", L"a\u3000b", L"a\u3000b"},
    WideArgument{"FullwidthQuoteAndBackslash", L"\uff02\uff3c", L"\uff02\uff3c"},
    WideArgument{"FullwidthQuotesAroundAnOption", L"x\uff02 --evil \uff02",
                 L"\"x\uff02 --evil \uff02\""},
    WideArgument{"LookAlikesWithQuotesAndBackslashes", L"\u03c0\\\"\u221e\\\\",
                 L"\u03c0\\\\\\\"\u221e\\\\"},
    WideArgument{"WrappedWithTrailingBackslashes", L"\u8a9e\t\U0001F600\\\\",
                 L"\"\u8a9e\t\U0001F600\\\\\\\\\""},
    WideArgument{"YenAndWonSigns", L"\u00a5\u20a9\"", L"\u00a5\u20a9\\\""}),
    [](const testing::TestParamInfo<WideArgument>& info) { return std::string(info.param.name); });

TEST(WideArguments, ManyAtOnceKeepTheirBoundaries)
{
    const WArgs args = {L"", L"\u5f20\u4e09", L"a b\u3000c", L"\xd83d", L"\xde00", L"\xd83d\xde00",
                        L"\uff02", L"\"\u8868\"", L"\\\\server\\\u5171\u6709\\", L"--no-gui"};
    const Outcome o = run_wide(acp(real_launcher), args);
    ASSERT_TRUE(o.child.ran);
    EXPECT_EQ(o.child.wide_argv, child_vector(gui, args));
    EXPECT_EQ(split_with_shell32(o.child.wide_command_line), child_vector(gui, args));
}

TEST(WideArguments, AnsiChildStillGetsItsCodePageText)
{
    // Characters that code page 1252 holds, as an ANSI child reads them.
    const Outcome o = run_wide(acp(real_launcher), {L"\u00e9t\u00e9", L"\u20ac \u0152", L"\u00ff\""});
    ASSERT_TRUE(o.child.ran);
    ASSERT_EQ(o.child.code_page, 1252u);
    EXPECT_EQ(o.child.argv, child_vector(gui_in(apps_root), {"\xe9t\xe9", "\x80 \x8c", "\xff\""}));
}

// ---- installations and variables ----

struct Place {
    const char* name;
    std::wstring launcher;
    Env env;
    std::wstring bin;
    std::wstring archlib;
};

void PrintTo(const Place& p, std::ostream* os) { *os << p.name; }

class PlaceTest : public testing::TestWithParam<Place> {};

// The file a path names, as the system reports a running module's path.
std::wstring full_path(const std::wstring& path)
{
    wchar_t full[MAX_PATH * 2];
    const DWORD length = GetFullPathNameW(path.c_str(), MAX_PATH * 2, full, nullptr);
    return std::wstring(full, length);
}

TEST_P(PlaceTest, BothBuildsStartFromThere)
{
    const Place& p = GetParam();
    const std::wstring cli_path = p.bin + L"\\tarvex-cli.exe";
    const Outcome cli_run = run_wide(p.launcher, {L"--no-gui-libs", L"\u00e9"}, p.env);
    ASSERT_TRUE(cli_run.child.ran) << "nothing started from " << p.name;
    EXPECT_EQ(cli_run.child.wide_argv, child_vector(cli_path, {L"\u00e9"}));
    EXPECT_EQ(cli_run.child.wide_module, full_path(cli_path));
    const std::wstring gui_path = p.archlib + L"\\tarvex-gui.exe";
    const Outcome gui_run = run_wide(p.launcher, {}, p.env);
    ASSERT_TRUE(gui_run.child.ran) << "nothing started from " << p.name;
    EXPECT_EQ(gui_run.child.wide_argv, child_vector(gui_path, {}));
    EXPECT_EQ(gui_run.child.wide_module, full_path(gui_path));
}

const std::wstring archlib_dir = acp(archlib_tail);
const std::wstring cjk = cjk_root;
const std::wstring cyrillic = cyrillic_root;
const std::wstring emoji = emoji_root;
const std::wstring apps = acp(apps_root);

// A root written with forward slashes, as "TARVEX_HOME" may be.
std::wstring forward(std::wstring path)
{
    for (wchar_t& c : path)
        if (c == L'\\')
            c = L'/';
    return path;
}

INSTANTIATE_TEST_SUITE_P(OutsideTheCodePage, PlaceTest, testing::Values(
    Place{"CjkUserProfile", cjk + L"\\bin\\tarvex.exe", {}, cjk + L"\\bin", cjk + archlib_dir},
    Place{"Cyrillic", cyrillic + L"\\bin\\tarvex.exe", {}, cyrillic + L"\\bin", cyrillic + archlib_dir},
    Place{"SupplementaryCharacterAndSpace", emoji + L"\\bin\\tarvex.exe", {}, emoji + L"\\bin",
          emoji + archlib_dir},
    Place{"HomeWithForwardSlashes", acp(real_launcher), {L"TARVEX_HOME=" + forward(cjk)},
          cjk + L"\\bin", cjk + archlib_dir},
    Place{"BinDir", acp(real_launcher), {L"TARVEX_BINDIR=" + cyrillic + L"\\bin"},
          cyrillic + L"\\bin", apps + archlib_dir},
    Place{"ArchlibDir", acp(real_launcher), {L"TARVEX_ARCHLIBDIR=" + emoji + archlib_dir},
          apps + L"\\bin", emoji + archlib_dir},
    // No file name can hold an unpaired surrogate, but a path can pass
    // through one: "..\" takes the name away before the file system looks.
    Place{"HomeThroughAnUnpairedSurrogate", acp(real_launcher),
          {L"TARVEX_HOME=C:/Apps/\xd800/../tarvex"},
          L"C:\\Apps\\\xd800\\..\\tarvex\\bin", L"C:\\Apps\\\xd800\\..\\tarvex" + archlib_dir}),
    [](const testing::TestParamInfo<Place>& info) { return std::string(info.param.name); });

} // namespace
