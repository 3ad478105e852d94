// Whatever arrives, the child gets exactly the launcher's arguments, or is
// not started at all.

#include "harness.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

using namespace harness;

namespace {

const std::string gui = gui_in(apps_root);
const std::string cli = cli_in(apps_root);

// ---- the platform's command-line limit ----

struct Boundary {
    const char* name;
    bool cli_build;
    bool wrapped;         // the argument gains two quotes on the child's line
    std::wstring fill;    // what the argument is made of, repeated
    std::size_t length;   // of the child's whole command line, in UTF-16 units
};

void PrintTo(const Boundary& b, std::ostream* os) { *os << b.name; }

class LimitTest : public testing::TestWithParam<Boundary> {};

TEST_P(LimitTest, ChildStartsOnlyWithItsWholeCommandLine)
{
    const Boundary& b = GetParam();
    const std::wstring target = acp(b.cli_build ? cli : gui);
    // target, one space, then the argument as the child's line holds it
    std::size_t room = b.length - target.size() - 1;
    std::wstring arg = b.wrapped ? L"\x01" : L"";
    room -= arg.size() + (b.wrapped ? 2 : 0);
    for (; room >= b.fill.size(); room -= b.fill.size())
        arg += b.fill;
    arg.append(room, L'p');
    WArgs args = {arg};
    if (b.cli_build)
        args.insert(args.begin(), L"--no-gui-libs");
    const Outcome o = run({acp(real_launcher), L"t" + join_quoted(args), base_env()});
    if (b.length <= 32766) {
        ASSERT_TRUE(o.child.ran);
        EXPECT_EQ(o.child.wide_command_line.size(), b.length);
        EXPECT_EQ(o.child.wide_argv, child_vector(target, {arg}));
    } else {
        EXPECT_FALSE(o.child.ran);
        EXPECT_EQ(o.status, 0xFFFFFFFFu);
        EXPECT_EQ(o.out + o.err, "");
    }
}

// CJK characters take three bytes inside the launcher but one unit on the
// command line; a character beyond the Basic Multilingual Plane takes two.
INSTANTIATE_TEST_SUITE_P(Boundaries, LimitTest, testing::Values(
    Boundary{"GuiAtLimit", false, false, L"p", 32766}, Boundary{"GuiOverLimit", false, false, L"p", 32767},
    Boundary{"GuiQuotedAtLimit", false, true, L"w", 32766}, Boundary{"GuiQuotedOverLimit", false, true, L"w", 32767},
    Boundary{"CliAtLimit", true, false, L"p", 32766}, Boundary{"CliOverLimit", true, false, L"p", 32767},
    Boundary{"CliQuotedAtLimit", true, true, L"w", 32766}, Boundary{"CliQuotedOverLimit", true, true, L"w", 32767},
    Boundary{"GuiCjkAtLimit", false, false, L"\u8a9e", 32766},
    Boundary{"GuiCjkOverLimit", false, false, L"\u8a9e", 32767},
    Boundary{"CliCjkQuotedAtLimit", true, true, L"\u8a9e", 32766},
    Boundary{"CliCjkQuotedOverLimit", true, true, L"\u8a9e", 32767},
    Boundary{"GuiSupplementaryAtLimit", false, false, L"\U0001F600", 32766},
    Boundary{"GuiSupplementaryOverLimit", false, false, L"\U0001F600", 32767},
    Boundary{"CliSupplementaryQuotedAtLimit", true, true, L"\U0001F600\u00e9", 32766},
    Boundary{"CliSupplementaryQuotedOverLimit", true, true, L"\U0001F600\u00e9", 32767}),
    [](const testing::TestParamInfo<Boundary>& info) { return std::string(info.param.name); });

// ---- extreme sizes ----

TEST(ExtremeInput, TenThousandArguments)
{
    Args args;
    for (int i = 0; i < 10000; ++i)
        args.push_back(std::string(1, static_cast<char>('a' + i % 26)));
    // Unquoted on the launcher's line too, so that both lines fit.
    std::string line = "t";
    for (const std::string& arg : args)
        line += " " + arg;
    const Outcome o = run({acp(real_launcher), acp(line), base_env()});
    ASSERT_TRUE(o.child.ran);
    EXPECT_EQ(o.child.argv, child_vector(gui, args));
}

TEST(ExtremeInput, ArgumentOf32000Characters)
{
    const std::string arg(32000, 'y');
    const Outcome o = run({acp(real_launcher), acp("t " + arg), base_env()});
    ASSERT_TRUE(o.child.ran);
    EXPECT_EQ(o.child.argv, child_vector(gui, {arg}));
}

// ---- environment values of every kind ----

struct Variable {
    const char* name;
    std::vector<std::string> env;
    Args args;
    std::string started;  // the child's path as the launcher wrote it; "" for none
};

void PrintTo(const Variable& v, std::ostream* os) { *os << v.name; }

class VariableTest : public testing::TestWithParam<Variable> {};

TEST_P(VariableTest, OutcomeFollowsTheValue)
{
    const Variable& v = GetParam();
    const Outcome o = run_args(real_launcher, v.args, v.env);
    if (v.started.empty()) {
        EXPECT_FALSE(o.child.ran);
        EXPECT_EQ(o.status, 0xFFFFFFFFu);
        EXPECT_EQ(o.out + o.err, "");
    } else {
        ASSERT_TRUE(o.child.ran);
        EXPECT_EQ(o.child.argv.at(0), v.started);
        EXPECT_EQ(o.status, 0u);
    }
}

const std::string huge(32700, 'h');

INSTANTIATE_TEST_SUITE_P(Values, VariableTest, testing::Values(
    Variable{"HugeHome", {"TARVEX_HOME=C:\\" + huge}, {}, ""},
    Variable{"HugeHomeCommandLineBuild", {"TARVEX_HOME=C:\\" + huge}, {"--no-gui-libs"}, ""},
    Variable{"HugeBinDir", {"TARVEX_BINDIR=" + huge}, {"--no-gui-libs"}, ""},
    Variable{"HugeArchlibDir", {"TARVEX_ARCHLIBDIR=" + huge}, {}, ""},
    Variable{"BinDirWithSpaces", {"TARVEX_BINDIR=C:\\Program Files\\tar vex\\bin"}, {"--no-gui-libs"},
             "C:\\Program Files\\tar vex\\bin\\tarvex-cli.exe"},
    Variable{"HomeWithSpaces", {"TARVEX_HOME=C:/Program Files/tar vex"}, {"--no-gui-libs"},
             "C:\\Program Files\\tar vex\\bin\\tarvex-cli.exe"},
    Variable{"BinDirInQuotes", {"TARVEX_BINDIR=\"C:\\Apps\\tarvex\\bin\""}, {"--no-gui-libs"}, ""},
    Variable{"HomeWithTrailingSlashes", {"TARVEX_HOME=C:/Apps/tarvex//"}, {"--no-gui-libs"},
             "C:\\Apps\\tarvex\\\\\\bin\\tarvex-cli.exe"},
    Variable{"RelativeHome", {"TARVEX_HOME=Apps\\tarvex"}, {},
             "Apps\\tarvex" + std::string(archlib_tail) + "\\tarvex-gui.exe"},
    Variable{"RelativeBinDir", {"TARVEX_BINDIR=Apps/tarvex/bin"}, {"--no-gui-libs"},
             "Apps/tarvex/bin\\tarvex-cli.exe"}),
    [](const testing::TestParamInfo<Variable>& info) { return std::string(info.param.name); });

// ---- only the computed path is ever started ----

TEST(NoSearch, NeitherPathNorCurrentDirectoryIsSearched)
{
    // A same-named executable lies in the current directory and on PATH.
    Launch launch{acp(real_launcher), L"t --no-gui-libs",
                  base_env(Args{"TARVEX_BINDIR=C:\\nowhere", "PATH=C:\\Apps\\tarvex\\bin"})};
    launch.directory = L"C:\\Apps\\tarvex\\bin";
    const Outcome o = run(launch);
    EXPECT_FALSE(o.child.ran);
    EXPECT_EQ(o.status, 0xFFFFFFFFu);
}

// ---- a launcher path that fills the module record ----

TEST(LongInstallPath, PathFillingTheModuleRecordStillGivesTheRoot)
{
    ASSERT_EQ(long_path_launcher().size(), static_cast<std::size_t>(MAX_PATH - 1));
    const Outcome o = run_args(long_path_launcher(), {"--no-gui-libs", "x"});
    ASSERT_TRUE(o.child.ran);
    EXPECT_EQ(o.child.argv, child_vector(cli_in(long_path_root()), {"x"}));
}

} // namespace
