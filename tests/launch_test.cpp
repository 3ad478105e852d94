// The launcher as a user meets it: staged installations, real processes,
// the real C runtime. Every expectation is read from what the stand-in
// child recorded or from the launcher's own status and output.

#include "harness.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

using namespace harness;

namespace {

const std::string gui = gui_in(apps_root);
const std::string cli = cli_in(apps_root);
const std::string versioned_cli = versioned_cli_in(apps_root);

const std::string fallback_lines =
    "tarvex: no graphical display found\r\ntarvex: disabling GUI features\r\n";

// ---- which executable, with which arguments ----

struct Choice {
    const char* name;
    Args args;
    // "" (the real probe, with a display), "unseen" (the real probe, in a
    // window station nobody sees), or the stand-in probe's answer: "none",
    // "null", anything else a display
    std::string display;
    std::string started;
    Args passed;
    std::string err;
};

void PrintTo(const Choice& c, std::ostream* os) { *os << c.name; }

class ChoiceTest : public testing::TestWithParam<Choice> {};

TEST_P(ChoiceTest, StartsTheRightExecutableWithTheRightArguments)
{
    const Choice& c = GetParam();
    const bool unseen = c.display == "unseen";
    const std::string launcher = c.display.empty() || unseen ? real_launcher : stub_launcher;
    Launch launch{acp(launcher), command_line_of(launcher, c.args),
                  base_env({"TARVEX_TEST_DISPLAY=" + c.display, "TARVEX_TEST_EXIT=7"})};
    if (unseen) {
        ASSERT_NE(unseen_desktop(), nullptr);
        launch.desktop = unseen_desktop();
    }
    const Outcome o = run(launch);
    ASSERT_TRUE(o.child.ran);
    EXPECT_EQ(o.child.argv, child_vector(c.started, c.passed));
    EXPECT_EQ(o.err, c.err);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.status, 7u);
}

INSTANTIATE_TEST_SUITE_P(WithDisplay, ChoiceTest, testing::Values(
    Choice{"NoArguments", {}, "", gui, {}, ""},
    Choice{"NoGuiLibs", {"--no-gui-libs"}, "", cli, {}, ""},
    Choice{"NoGuiLibsRemovedWithoutGap", {"a", "--no-gui-libs", "b"}, "", cli, {"a", "b"}, ""},
    Choice{"NoGuiLibsTwice", {"--no-gui-libs", "x", "--no-gui-libs"}, "", cli, {"x"}, ""},
    Choice{"NoGuiPassedOn", {"--no-gui"}, "", gui, {"--no-gui"}, ""},
    Choice{"NoGuiThenNoGuiLibs", {"--no-gui", "--no-gui-libs"}, "", cli, {"--no-gui"}, ""},
    Choice{"NoGuiLibsThenNoGui", {"--no-gui-libs", "--no-gui"}, "", cli, {"--no-gui"}, ""},
    Choice{"QuietWithNoGuiLibs", {"-q", "--no-gui-libs"}, "", cli, {"-q"}, ""},
    Choice{"AfterDoubleDash", {"--", "--no-gui-libs"}, "", cli, {"--"}, ""},
    Choice{"AfterAnOptionWantingAValue", {"--output", "--no-gui-libs"}, "", cli, {"--output"}, ""},
    Choice{"QuietOptionsPassedOn", {"-q", "--quiet", "--silent"}, "", gui, {"-q", "--quiet", "--silent"}, ""},
    Choice{"EmptyArgument", {""}, "", gui, {""}, ""}));

INSTANTIATE_TEST_SUITE_P(WithoutDisplay, ChoiceTest, testing::Values(
    Choice{"NoArguments", {}, "none", versioned_cli, {}, fallback_lines},
    Choice{"NullMessage", {}, "null", versioned_cli, {},
           "tarvex: graphical display unavailable\r\ntarvex: disabling GUI features\r\n"},
    Choice{"StubReportingADisplay", {"x"}, "yes", gui, {"x"}, ""},
    Choice{"NoGuiPassedOn", {"--no-gui"}, "none", versioned_cli, {"--no-gui"}, fallback_lines},
    Choice{"ShortQuiet", {"-q"}, "none", versioned_cli, {"-q"}, ""},
    Choice{"Quiet", {"--quiet"}, "none", versioned_cli, {"--quiet"}, ""},
    Choice{"Silent", {"a", "--silent"}, "none", versioned_cli, {"a", "--silent"}, ""},
    Choice{"NoGuiLibsNeverProbes", {"--no-gui-libs"}, "none", cli, {}, ""},
    Choice{"QuietWithNoGuiLibs", {"-q", "--no-gui-libs"}, "none", cli, {"-q"}, ""},
    Choice{"CapitalQ", {"-Q"}, "none", versioned_cli, {"-Q"}, fallback_lines},
    Choice{"QRunTogether", {"-qv"}, "none", versioned_cli, {"-qv"}, fallback_lines},
    Choice{"QuietWithValue", {"--quiet=yes"}, "none", versioned_cli, {"--quiet=yes"}, fallback_lines},
    Choice{"SilentCutShort", {"--sil"}, "none", versioned_cli, {"--sil"}, fallback_lines}),
    [](const testing::TestParamInfo<Choice>& info) { return std::string(info.param.name); });

// Services, remote shells and CI agents run in window stations that hand
// out device contexts but that nobody sees: the real probe finds no
// display there.
INSTANTIATE_TEST_SUITE_P(UnseenStation, ChoiceTest, testing::Values(
    Choice{"NoArguments", {"x"}, "unseen", versioned_cli, {"x"}, fallback_lines},
    Choice{"NoGuiPassedOn", {"--no-gui"}, "unseen", versioned_cli, {"--no-gui"}, fallback_lines},
    Choice{"ShortQuiet", {"-q"}, "unseen", versioned_cli, {"-q"}, ""},
    Choice{"NoGuiLibs", {"--no-gui-libs"}, "unseen", cli, {}, ""}),
    [](const testing::TestParamInfo<Choice>& info) { return std::string(info.param.name); });

// An argument that is not exactly an option is an ordinary argument.
class NearMissTest : public testing::TestWithParam<std::string> {};

TEST_P(NearMissTest, IsPassedOnAndChangesNothing)
{
    const Outcome o = run_args(real_launcher, {GetParam()});
    ASSERT_TRUE(o.child.ran);
    EXPECT_EQ(o.child.argv, child_vector(gui, {GetParam()}));
}

INSTANTIATE_TEST_SUITE_P(NoGuiLibs, NearMissTest, testing::Values(
    "--NO-GUI-LIBS", "--No-Gui-Libs", "--no-gui-libs=1", "--no-gui-lib", "--no-gui-libsx",
    "-no-gui-libs", "--no-gui-libs ", " --no-gui-libs", "--no_gui_libs"));

// ---- where the installation lies ----

struct Resolution {
    const char* name;
    std::string launcher;
    std::vector<std::string> env;
    std::string bin;
    std::string archlib;
};

void PrintTo(const Resolution& r, std::ostream* os) { *os << r.name; }

class ResolutionTest : public testing::TestWithParam<Resolution> {};

TEST_P(ResolutionTest, CommandLineBuildComesFromTheBinDirectory)
{
    const Resolution& r = GetParam();
    Args args = {"--no-gui-libs"};
    const Outcome o = run_args(r.launcher, args, r.env);
    ASSERT_TRUE(o.child.ran) << "nothing started; expected " << r.bin;
    EXPECT_EQ(o.child.argv.at(0), r.bin + "\\tarvex-cli.exe");
}

TEST_P(ResolutionTest, GuiBuildComesFromTheArchitectureDirectory)
{
    const Resolution& r = GetParam();
    const Outcome o = run_args(r.launcher, {}, r.env);
    ASSERT_TRUE(o.child.ran) << "nothing started; expected " << r.archlib;
    EXPECT_EQ(o.child.argv.at(0), r.archlib + "\\tarvex-gui.exe");
}

const std::string archlib_path = archlib_tail;
const std::string apps_bin = std::string(apps_root) + "\\bin";
const std::string apps_archlib = apps_root + archlib_path;
// Relative to the current drive: where the compiled-in prefix stays put.
const std::string default_bin = "\\usr\\i686-w64-mingw32\\bin";
const std::string default_archlib = "\\usr\\i686-w64-mingw32" + archlib_path;

INSTANTIATE_TEST_SUITE_P(Installations, ResolutionTest, testing::Values(
    Resolution{"FromOwnLocation", real_launcher, {}, apps_bin, apps_archlib},
    Resolution{"BinFurtherUp", "C:\\Tools\\bin\\tv\\tarvex.exe", {},
               "C:\\Tools\\bin", "C:\\Tools" + archlib_path},
    Resolution{"LastBinCounts", "C:\\bin\\tarvex\\bin\\tarvex.exe", {},
               "C:\\bin\\tarvex\\bin", "C:\\bin\\tarvex" + archlib_path},
    Resolution{"SecondDrive", "D:\\tv\\bin\\tarvex.exe", {}, "D:\\tv\\bin", "D:\\tv" + archlib_path},
    // Windows matches names in any case, and a Windows-side start passes
    // the spelling on disk: the key and the marker count in any case.
    Resolution{"BinInCapitals", "C:\\Caps\\BIN\\tarvex.exe", {}, "C:\\Caps\\bin", "C:\\Caps" + archlib_path},
    Resolution{"BinInMixedCase", spelled_bin_launcher, {}, "C:\\Spelled\\bin", "C:\\Spelled" + archlib_path},
    Resolution{"KeyInCapitals", renamed_launcher, {}, "C:\\Renamed\\bin", "C:\\Renamed" + archlib_path},
    Resolution{"PathWithSpaces", "C:\\Program Files\\tar vex\\bin\\tarvex.exe", {},
               "C:\\Program Files\\tar vex\\bin", "C:\\Program Files\\tar vex" + archlib_path},
    // A packager's prefix that names its drive is a fallback somebody made.
    Resolution{"DrivePrefixFallback", drive_prefix_launcher, {},
               drive_prefix_root + std::string("\\bin"), drive_prefix_root + archlib_path}),
    [](const testing::TestParamInfo<Resolution>& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(Environment, ResolutionTest, testing::Values(
    Resolution{"HomeWithForwardSlashes", real_launcher, {"TARVEX_HOME=D:/tv"},
               "D:\\tv\\bin", "D:\\tv" + archlib_path},
    Resolution{"HomeEmptyIsUnset", real_launcher, {"TARVEX_HOME="}, apps_bin, apps_archlib},
    Resolution{"HomeWithTrailingBackslash", real_launcher, {"TARVEX_HOME=D:\\tv\\"},
               "D:\\tv\\\\bin", "D:\\tv\\" + archlib_path},
    Resolution{"HomeEqualToPrefix", real_launcher, {"TARVEX_HOME=/usr/i686-w64-mingw32"},
               default_bin, default_archlib},
    Resolution{"BinDirKeepsForwardSlashes", real_launcher, {"TARVEX_BINDIR=D:/tv/bin"},
               "D:/tv/bin", apps_archlib},
    Resolution{"BinDirEmptyIsUnset", real_launcher, {"TARVEX_BINDIR="}, apps_bin, apps_archlib},
    Resolution{"BinDirWithTrailingBackslash", real_launcher, {"TARVEX_BINDIR=D:\\tv\\bin\\"},
               "D:\\tv\\bin\\", apps_archlib},
    Resolution{"BothDirsOverrideHome", "C:\\Apps\\tarvex\\tarvex.exe",
               {"TARVEX_HOME=C:\\nowhere", "TARVEX_BINDIR=D:\\tv\\bin",
                "TARVEX_ARCHLIBDIR=C:\\Tools" + archlib_path},
               "D:\\tv\\bin", "C:\\Tools" + archlib_path},
    Resolution{"ArchlibDirAlone", real_launcher, {"TARVEX_ARCHLIBDIR=D:\\tv" + archlib_path},
               apps_bin, "D:\\tv" + archlib_path}),
    [](const testing::TestParamInfo<Resolution>& info) { return std::string(info.param.name); });

// ---- never a child from where nobody installed one ----

// Without a root, the drive-less build prefix names a folder on the current
// drive, which any user may create: stand-ins are planted there, and the
// launch runs from C:\.
struct Planted {
    const char* name;
    std::string launcher;
    Args args;
    std::vector<std::string> env;
    std::string err;
};

void PrintTo(const Planted& p, std::ostream* os) { *os << p.name; }

class PlantedTest : public testing::TestWithParam<Planted> {};

TEST_P(PlantedTest, NothingIsStarted)
{
    const Planted& p = GetParam();
    ASSERT_NE(GetFileAttributesA(cli_in(prefix_root).c_str()), INVALID_FILE_ATTRIBUTES);
    const Outcome o = run_args(p.launcher, p.args, p.env);
    EXPECT_FALSE(o.child.ran) << "started " << o.child.module;
    EXPECT_EQ(o.status, 0xFFFFFFFFu);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, p.err);
}

INSTANTIATE_TEST_SUITE_P(NoRoot, PlantedTest, testing::Values(
    Planted{"OutsideAnyBin", outside_bin_launcher, {}, {}, ""},
    Planted{"OutsideAnyBinCommandLineBuild", outside_bin_launcher, {"--no-gui-libs"}, {}, ""},
    Planted{"NameWithoutKey", "C:\\Apps\\tarvex\\bin\\launch.exe", {"--no-gui-libs", "x"}, {}, ""},
    // Only the directory of what would start matters; the probe and its
    // lines stay as they are.
    Planted{"GuiBuildWithOnlyTheBinDirSet", outside_bin_launcher, {},
            {"TARVEX_BINDIR=" + apps_bin}, ""},
    Planted{"NoDisplay", outside_bin_stub_launcher, {}, {"TARVEX_TEST_DISPLAY=none"}, fallback_lines},
    Planted{"NoDisplayQuiet", outside_bin_stub_launcher, {"-q"}, {"TARVEX_TEST_DISPLAY=none"}, ""}),
    [](const testing::TestParamInfo<Planted>& info) { return std::string(info.param.name); });

// What a variable names was chosen by the caller, drive-relative or not,
// and the fallback of the directory not used stops nothing.
struct Chosen {
    const char* name;
    std::string launcher;
    Args args;
    std::vector<std::string> env;
    std::string started;
};

void PrintTo(const Chosen& c, std::ostream* os) { *os << c.name; }

class ChosenTest : public testing::TestWithParam<Chosen> {};

TEST_P(ChosenTest, IsStarted)
{
    const Chosen& c = GetParam();
    const Outcome o = run_args(c.launcher, c.args, c.env);
    ASSERT_TRUE(o.child.ran) << "nothing started; expected " << c.started;
    EXPECT_EQ(o.child.argv.at(0), c.started);
    EXPECT_EQ(o.status, 0u);
}

INSTANTIATE_TEST_SUITE_P(ByTheCaller, ChosenTest, testing::Values(
    Chosen{"BinDirWithFallbackArchlib", outside_bin_launcher, {"--no-gui-libs"},
           {"TARVEX_BINDIR=" + apps_bin}, cli},
    Chosen{"ArchlibDirWithFallbackBin", outside_bin_launcher, {}, {"TARVEX_ARCHLIBDIR=" + apps_archlib}, gui},
    Chosen{"DriveRelativeHome", outside_bin_launcher, {}, {"TARVEX_HOME=/usr/i686-w64-mingw32"},
           default_archlib + "\\tarvex-gui.exe"},
    Chosen{"DriveRelativeBinDir", outside_bin_launcher, {"--no-gui-libs"}, {"TARVEX_BINDIR=" + default_bin},
           default_bin + "\\tarvex-cli.exe"}),
    [](const testing::TestParamInfo<Chosen>& info) { return std::string(info.param.name); });

// ---- the child's command line ----

struct Quoting {
    const char* name;
    std::string arg;
    std::string written;  // as it must stand on the child's command line
};

void PrintTo(const Quoting& q, std::ostream* os) { *os << q.name; }

class QuotingTest : public testing::TestWithParam<Quoting> {};

TEST_P(QuotingTest, ChildCommandLineIsExactAndSplitsBack)
{
    const Quoting& q = GetParam();
    const Outcome o = run_args(real_launcher, {q.arg});
    ASSERT_TRUE(o.child.ran);
    EXPECT_EQ(o.child.command_line, gui + " " + q.written);
    EXPECT_EQ(o.child.argv, child_vector(gui, {q.arg}));
}

INSTANTIATE_TEST_SUITE_P(Arguments, QuotingTest, testing::Values(
    Quoting{"Empty", "", "\"\""},
    Quoting{"Word", "word", "word"},
    Quoting{"InnerBackslash", "x\\y", "x\\y"},
    Quoting{"TrailingBackslashUnwrapped", "x\\", "x\\"},
    Quoting{"Space", "a b", "\"a b\""},
    Quoting{"Quote", "a\"b", "a\\\"b"},
    Quoting{"TrailingBackslashesWrapped", "a \\\\", "\"a \\\\\\\\\""},
    Quoting{"Tab", "a\tb", "\"a\tb\""},
    Quoting{"LoneQuote", "\"", "\\\""},
    Quoting{"BackslashQuote", "\\\"", "\\\\\\\""},
    Quoting{"QuoteEndsRun", "\\a\"", "\\a\\\""},
    Quoting{"TwoQuotes", "\\\"\"", "\\\\\\\"\\\""},
    Quoting{"WrappedEndingInQuote", "a b\"", "\"a b\\\"\""},
    Quoting{"BackslashSpaceBackslash", "\\ \\", "\"\\ \\\\\""},
    Quoting{"EscapedQuoteInWrapped", "a\\\"b c", "\"a\\\\\\\"b c\""},
    Quoting{"LoneSpace", " ", "\" \""},
    Quoting{"ControlCharacter", "\x01", "\"\x01\""},
    Quoting{"LineFeed", "a\nb", "\"a\nb\""},
    Quoting{"Escape", "\x1b[0m", "\"\x1b[0m\""},
    Quoting{"ShellCharacters", "*?&|<>^%'", "*?&|<>^%'"},
    Quoting{"HighBytes", "\x7f\x80\xff", "\x7f\x80\xff"}),
    [](const testing::TestParamInfo<Quoting>& info) { return std::string(info.param.name); });

TEST(CommandLine, ElementsJoinedBySingleSpaces)
{
    const Outcome o = run_args(real_launcher, {"", "a b", "q\"q"});
    ASSERT_TRUE(o.child.ran);
    EXPECT_EQ(o.child.command_line, gui + " \"\" \"a b\" q\\\"q");
}

TEST(CommandLine, PathWithSpacesIsWrapped)
{
    const std::string launcher = "C:\\Program Files\\tar vex\\bin\\tarvex.exe";
    const Outcome o = run_args(launcher, {"--no-gui-libs", "x"});
    ASSERT_TRUE(o.child.ran);
    EXPECT_EQ(o.child.command_line, "\"C:\\Program Files\\tar vex\\bin\\tarvex-cli.exe\" x");
}

TEST(CommandLine, LauncherArgumentZeroIsNeverPassedOn)
{
    const Outcome o = run({acp(real_launcher), L"\"some other name\" a", base_env()});
    ASSERT_TRUE(o.child.ran);
    EXPECT_EQ(o.child.argv, child_vector(gui, {"a"}));
}

TEST(CommandLine, WildcardsReachTheChildAsWritten)
{
    // Written unquoted, in a directory where each pattern has matches.
    Launch launch{acp(real_launcher), L"tarvex *.exe tarvex-??? C:\\Apps\\*", base_env()};
    launch.directory = acp(apps_bin);
    const Outcome o = run(launch);
    ASSERT_TRUE(o.child.ran);
    EXPECT_EQ(o.child.command_line, gui + " *.exe tarvex-??? C:\\Apps\\*");
}

TEST(CommandLine, RoundTripOfHostileArguments)
{
    const Args args = {"", " ", "\t", "\"", "\"\"", "\\", "\\\\", "\\\"", "a\\\\\"b", "x y\\",
                       "x y\\\\", "\"a b\"", "a\"b c\"d", "\\\\server\\share\\", "C:\\dir with space\\",
                       "%PATH%", "!x!", "^", "a\rb", "\x1f", "\x7f", "\xe9t\xe9", "--no-gui",
                       "-q", "=", "\"\\\"\\\\\"", "end\\\\\\"};
    const Outcome o = run_args(real_launcher, args);
    ASSERT_TRUE(o.child.ran);
    EXPECT_EQ(o.child.argv, child_vector(gui, args));
    // The system's own splitter reads the same arguments from that line.
    const Args split = split_with_shell32(o.child.command_line);
    EXPECT_EQ(Args(split.begin() + 1, split.end()), args);
}

// ---- status and output ----

class StatusTest : public testing::TestWithParam<std::uint32_t> {};

TEST_P(StatusTest, ChildStatusBecomesTheLaunchersUnchanged)
{
    const Outcome o = run_args(real_launcher, {}, {"TARVEX_TEST_EXIT=" + std::to_string(GetParam())});
    ASSERT_TRUE(o.child.ran);
    EXPECT_EQ(o.status, GetParam());
}

INSTANTIATE_TEST_SUITE_P(Statuses, StatusTest, testing::Values(
    0u, 1u, 42u, 255u, 256u, 0x7FFFFFFFu, 0x80000000u, 0xC0000005u, 0xC000013Au, 0xFFFFFFFEu,
    0xFFFFFFFFu));

struct Unstartable {
    const char* name;
    Args args;
    std::vector<std::string> env;
};

void PrintTo(const Unstartable& u, std::ostream* os) { *os << u.name; }

class UnstartableTest : public testing::TestWithParam<Unstartable> {};

TEST_P(UnstartableTest, EndsWithMinusOneAndWritesNothing)
{
    const Outcome o = run_args(real_launcher, GetParam().args, GetParam().env);
    EXPECT_FALSE(o.child.ran);
    EXPECT_EQ(o.status, 0xFFFFFFFFu);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, "");
}

INSTANTIATE_TEST_SUITE_P(Missing, UnstartableTest, testing::Values(
    Unstartable{"CommandLineBuild", {"--no-gui-libs"}, {"TARVEX_BINDIR=C:\\nowhere"}},
    Unstartable{"GuiBuild", {"a"}, {"TARVEX_ARCHLIBDIR=C:\\nowhere"}},
    Unstartable{"WholeInstallation", {}, {"TARVEX_HOME=C:\\nowhere"}}),
    [](const testing::TestParamInfo<Unstartable>& info) { return std::string(info.param.name); });

TEST(StandardHandles, InputReachesTheChildAndItsOutputTheCaller)
{
    std::string input;
    for (int i = 0; i < 256; ++i)
        input += static_cast<char>(i);
    input += "\r\n\x1a tail\n";
    Launch launch{acp(real_launcher), L"tarvex", base_env({"TARVEX_TEST_MODE=echo"})};
    launch.input = input;
    const Outcome o = run(launch);
    ASSERT_TRUE(o.child.ran);
    EXPECT_EQ(o.out, input);
    EXPECT_EQ(o.err, "child stderr");
}

// ---- the graphical libraries ----

bool launcher_had_user32_while_child_ran(const Args& args)
{
    const Outcome o = run_args(real_launcher, args, {"TARVEX_TEST_MODE=modules"});
    EXPECT_TRUE(o.child.ran);
    EXPECT_NE(o.out.find("tarvex.exe"), std::string::npos) << "no module list: " << o.out;
    return o.out.find("user32.dll") != std::string::npos;
}

TEST(GraphicalLibraries, LoadedOnlyWhenTheDisplayIsProbed)
{
    EXPECT_FALSE(launcher_had_user32_while_child_ran({"--no-gui-libs"}));
    EXPECT_TRUE(launcher_had_user32_while_child_ran({}));
    EXPECT_TRUE(launcher_had_user32_while_child_ran({"--no-gui"}));
}

// ---- the mended faults ----

TEST(MendedFaults, NoArgumentCountAtAll)
{
    // An empty command line gives the launcher an argument count of 0.
    const Outcome o = run({acp(real_launcher), L"", base_env()});
    ASSERT_TRUE(o.child.ran);
    EXPECT_EQ(o.child.argv, child_vector(gui, {}));
    EXPECT_EQ(o.status, 0u);
}

TEST(MendedFaults, EmptyArgumentSurvivesFailingStrdup)
{
    const Outcome o = run_args(nostrdup_launcher, {"", "x", ""});
    ASSERT_TRUE(o.child.ran);
    EXPECT_EQ(o.child.command_line, gui + " \"\" x \"\"");
    EXPECT_EQ(o.child.argv, child_vector(gui, {"", "x", ""}));
}

} // namespace
