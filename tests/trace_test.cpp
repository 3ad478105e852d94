// The launcher's trace: nothing at all unless "TARVEX_LAUNCHER_DEBUG" is
// set and not empty; with it, one line for each step, in order, that names
// the cause of every failure and never changes the launch.

#include "harness.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

using namespace harness;

namespace {

const char* const trace_on = "TARVEX_LAUNCHER_DEBUG=1";
const std::string fallback_lines =
    "tarvex: no graphical display found\r\ntarvex: disabling GUI features\r\n";

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> result;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        result.push_back(text.substr(start, end - start));
    EXPECT_EQ(start, text.size()) << "output that does not end its line: " << text.substr(start);
    return result;
}

// The trace's lines only: the fallback lines are left out.
std::vector<std::string> trace_lines(const std::string& err)
{
    std::vector<std::string> result;
    for (const std::string& line : lines(err)) {
        EXPECT_EQ(line.rfind("tarvex: ", 0), 0u) << line;
        if (line != "tarvex: no graphical display found" && line != "tarvex: disabling GUI features")
            result.push_back(line.substr(8));
    }
    return result;
}

bool has_line(const std::vector<std::string>& trace, const std::string& line)
{
    for (const std::string& l : trace)
        if (l == line)
            return true;
    return false;
}

std::string all(const std::vector<std::string>& trace)
{
    std::string text;
    for (const std::string& line : trace)
        text += line + "\n";
    return text;
}

std::string utf8(const std::wstring& text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string bytes(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[0], size, nullptr,
                        nullptr);
    return bytes;
}

// The system's own words for an error, as the trace must give them.
std::string system_words(DWORD error)
{
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring words(text, length);
    LocalFree(text);
    while (!words.empty() && (words.back() == L'\n' || words.back() == L'\r' || words.back() == L' '))
        words.pop_back();
    return utf8(words) + " (error " + std::to_string(error) + ")";
}

// ---- off: not one byte ----

struct Silent {
    const char* name;
    const char* launcher;
    Args args;
    std::vector<std::string> env;
    bool starts;
    std::string err;
};

void PrintTo(const Silent& s, std::ostream* os) { *os << s.name; }

class SilentTest : public testing::TestWithParam<std::tuple<Silent, const char*>> {};

TEST_P(SilentTest, WritesNothingOfItsOwn)
{
    const Silent& s = std::get<0>(GetParam());
    std::vector<std::string> env = s.env;
    if (const char* debug = std::get<1>(GetParam()))
        env.push_back(debug);
    const Outcome o = run_args(s.launcher, s.args, env);
    EXPECT_EQ(o.child.ran, s.starts);
    EXPECT_EQ(o.err, s.err);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.status, s.starts ? 0u : 0xFFFFFFFFu);
}

INSTANTIATE_TEST_SUITE_P(TraceOff, SilentTest, testing::Combine(
    testing::Values(
        Silent{"GoodLaunch", real_launcher, {"a"}, {}, true, ""},
        Silent{"MissingExecutable", real_launcher, {"--no-gui-libs"}, {"TARVEX_BINDIR=C:\\nowhere"}, false, ""},
        Silent{"Planted", outside_bin_launcher, {}, {}, false, ""},
        Silent{"FallbackLinesOnly", stub_launcher, {}, {"TARVEX_TEST_DISPLAY=none"}, true, fallback_lines}),
    testing::Values(nullptr, "TARVEX_LAUNCHER_DEBUG=")),
    [](const testing::TestParamInfo<std::tuple<Silent, const char*>>& info) {
        return std::string(std::get<0>(info.param).name) + (std::get<1>(info.param) ? "_Empty" : "_Unset");
    });

// ---- on: it reports and changes nothing ----

const std::string no_link = "its file is no link into another directory: the path is used as found";

TEST(Trace, StepsInTheOrderTheyHappen)
{
    const Outcome o = run_args(real_launcher, {"-q", "x"}, {trace_on, "TARVEX_TEST_EXIT=7"});
    ASSERT_TRUE(o.child.ran);
    const std::string gui = gui_in(apps_root);
    const std::vector<std::string> expected = {
        "TARVEX_BINDIR is unset",
        "TARVEX_HOME is unset",
        "module tarvex.exe matched, at " + std::string(real_launcher),
        no_link,
        "installation root " + std::string(apps_root) + ", from the launcher's own path",
        "TARVEX_ARCHLIBDIR is unset",
        "TARVEX_HOME is unset",
        "module tarvex.exe matched, at " + std::string(real_launcher),
        no_link,
        "installation root " + std::string(apps_root) + ", from the launcher's own path",
        "bin directory " + std::string(apps_root) + "\\bin",
        "architecture-specific directory " + std::string(apps_root) + archlib_tail,
        "options recognised: -q",
        "display probed: a display was found",
        "executable " + gui + ", a file lies there",
        "command line " + gui + " -q x",
        "shutdown level 0x100: at logoff the application is asked before the launcher ends",
        "child put in its job: it ends with the launcher",
        // Descriptors 0 to 2 are the driver's files; standard error stays
        // for the last line.
        "stood aside: released descriptor 0, descriptor 1; left alone descriptor 2, standard error",
        "exit status 7 (0x00000007)",
    };
    EXPECT_EQ(trace_lines(o.err), expected);
}

TEST(Trace, CommandLineIsExactlyWhatTheChildReceived)
{
    const WArgs args = {L"\u65e5\u672c \"\u8a9e\"", L"\u00e9t\u00e9\\", L"a b\\", L"", L"\U0001F600"};
    for (const bool command_line_build : {false, true}) {
        WArgs given = args;
        if (command_line_build)
            given.insert(given.begin(), L"--no-gui-libs");
        const Outcome plain = run_wide(acp(real_launcher), given, {L"TARVEX_TEST_EXIT=0xC0000005"});
        const Outcome traced = run_wide(acp(real_launcher), given,
                                        {L"TARVEX_TEST_EXIT=0xC0000005", acp(trace_on)});
        ASSERT_TRUE(traced.child.ran);
        EXPECT_TRUE(has_line(trace_lines(traced.err), "command line " + utf8(traced.child.wide_command_line)))
            << all(trace_lines(traced.err));
        EXPECT_EQ(traced.child.wide_command_line, plain.child.wide_command_line);
        EXPECT_EQ(traced.child.wide_argv, plain.child.wide_argv);
        EXPECT_EQ(traced.status, 0xC0000005u);
        EXPECT_EQ(plain.status, 0xC0000005u);
        EXPECT_TRUE(has_line(trace_lines(traced.err), "exit status -1073741819 (0xC0000005)"));
    }
}

TEST(Trace, UnpairedSurrogateShowsAsReplacementCharacterOnly)
{
    const Outcome o = run_wide(acp(real_launcher), {L"a\xd800" L"b", L"\u00e9"}, {acp(trace_on)});
    ASSERT_TRUE(o.child.ran);
    EXPECT_EQ(o.child.wide_argv.at(1), L"a\xd800" L"b");
    const std::string replacement = "\xef\xbf\xbd";
    EXPECT_TRUE(has_line(trace_lines(o.err), "command line " + gui_in(std::string(apps_root)) +
                                                 " a" + replacement + "b \xc3\xa9"))
        << all(trace_lines(o.err));
    EXPECT_EQ(o.err.find(replacement), o.err.rfind(replacement));
}

TEST(Trace, FallbackLinesStayAsTheyWere)
{
    const Outcome loud = run_args(stub_launcher, {}, {"TARVEX_TEST_DISPLAY=none", trace_on});
    EXPECT_NE(loud.err.find(fallback_lines), std::string::npos) << loud.err;
    const Outcome quiet = run_args(stub_launcher, {"-q"}, {"TARVEX_TEST_DISPLAY=none", trace_on});
    EXPECT_EQ(quiet.err.find("tarvex: no graphical display found\r\n"), std::string::npos) << quiet.err;
    EXPECT_EQ(quiet.err.find("tarvex: disabling GUI features"), std::string::npos);
    EXPECT_TRUE(quiet.child.ran);
}

// ---- each failure names its cause ----

struct Cause {
    const char* name;
    std::string launcher;
    Args args;
    std::vector<std::string> env;
    std::vector<std::string> says;  // lines the trace must hold
};

void PrintTo(const Cause& c, std::ostream* os) { *os << c.name; }

class CauseTest : public testing::TestWithParam<Cause> {};

TEST_P(CauseTest, TraceNamesIt)
{
    const Cause& c = GetParam();
    std::vector<std::string> env = c.env;
    env.push_back(trace_on);
    const Outcome o = run_args(c.launcher, c.args, env);
    const std::vector<std::string> trace = trace_lines(o.err);
    for (const std::string& line : c.says)
        EXPECT_TRUE(has_line(trace, line)) << "no line: " << line << "\nin:\n" << all(trace);
}

const std::string prefix_bin = std::string(prefix_root) + "\\bin";
const std::string unvouched =
    "not started: its directory comes from the build prefix /usr/i686-w64-mingw32, which names no "
    "drive or share, so any user may have created it";
const std::string no_root_from_module = "its path holds no \\bin\\ in any case: no root from it";
const std::string prefix_as_root = "installation root /usr/i686-w64-mingw32, from the build prefix, for want of another";
// Over the limit on the child's line, within it on the launcher's own.
const std::string long_arg(32700, 'p');

INSTANTIATE_TEST_SUITE_P(Failures, CauseTest, testing::Values(
    Cause{"KeyAndMarkerInAnyCase", renamed_launcher, {"--no-gui-libs"}, {},
          {"module Tarvex.exe matched, at " + std::string(renamed_launcher), no_link,
           "installation root C:\\Renamed, from the launcher's own path", "exit status 0 (0x00000000)"}},
    Cause{"OutsideAnyBin", outside_bin_launcher, {"--no-gui-libs"}, {},
          {"module tarvex.exe matched, at " + std::string(outside_bin_launcher), no_root_from_module,
           prefix_as_root, "bin directory \\usr\\i686-w64-mingw32\\bin", unvouched, "exit status -1 (0xFFFFFFFF)"}},
    Cause{"NameWithoutKey", "C:\\Apps\\tarvex\\bin\\launch.exe", {}, {},
          {"no loaded module's name holds \"tarvex\"", prefix_as_root, unvouched, "exit status -1 (0xFFFFFFFF)"}},
    Cause{"MissingExecutable", real_launcher, {"--no-gui-libs"}, {"TARVEX_BINDIR=C:\\nowhere"},
          {"TARVEX_BINDIR=C:\\nowhere", "bin directory C:\\nowhere",
           "executable C:\\nowhere\\tarvex-cli.exe, no file there: " + system_words(ERROR_PATH_NOT_FOUND),
           "could not start C:\\nowhere\\tarvex-cli.exe: " + system_words(ERROR_PATH_NOT_FOUND),
           "exit status -1 (0xFFFFFFFF)"}},
    Cause{"MissingGuiBuild", real_launcher, {}, {"TARVEX_ARCHLIBDIR=" + std::string(apps_root)},
          {"executable " + std::string(apps_root) + "\\tarvex-gui.exe, no file there: " +
               system_words(ERROR_FILE_NOT_FOUND),
           "exit status -1 (0xFFFFFFFF)"}},
    Cause{"CommandLineTooLong", real_launcher, {long_arg}, {},
          {"not started: the command line is " + std::to_string(gui_in(std::string(apps_root)).size() + 1 + long_arg.size()) +
               " UTF-16 units long, the limit is 32766",
           "exit status -1 (0xFFFFFFFF)"}},
    Cause{"NoJob", nojob_launcher, {}, {},
          {"child not in a job, so it does not end with a killed launcher: " + system_words(ERROR_ACCESS_DENIED),
           "exit status 0 (0x00000000)"}},
    Cause{"NoDeviceContext", stub_launcher, {}, {"TARVEX_TEST_DISPLAY=none"},
          {"display probed: none, no device context for the screen",
           "executable " + versioned_cli_in(std::string(apps_root)) + ", a file lies there"}},
    Cause{"NoUserInterfaceLibrary", stub_launcher, {}, {"TARVEX_TEST_DISPLAY=nolib"},
          {"display probed: none, the user-interface library could not be loaded: " +
           system_words(ERROR_MOD_NOT_FOUND)}},
    Cause{"ProbeSkipped", real_launcher, {"--no-gui-libs", "--no-gui", "--silent"}, {},
          {"options recognised: --no-gui-libs --no-gui --silent", "display not probed: --no-gui-libs"}},
    Cause{"HomeFromTheVariable", real_launcher, {}, {"TARVEX_HOME=D:/tv"},
          {"TARVEX_HOME=D:/tv", "installation root D:/tv, from TARVEX_HOME",
           "architecture-specific directory D:\\tv" + std::string(archlib_tail)}}),
    [](const testing::TestParamInfo<Cause>& info) { return std::string(info.param.name); });

// A share is not something any user can create: the start is tried there.
TEST(Trace, SharePrefixIsTriedNotRefused)
{
    const Outcome o = run_args(share_prefix_launcher, {"--no-gui-libs"}, {trace_on});
    const std::vector<std::string> trace = trace_lines(o.err);
    EXPECT_TRUE(has_line(trace, "bin directory \\\\server\\share\\usr\\i686-w64-mingw32\\bin")) << all(trace);
    EXPECT_FALSE(has_line(trace, unvouched)) << all(trace);
    const std::string tried = "could not start \\\\server\\share\\usr\\i686-w64-mingw32\\bin\\tarvex-cli.exe: ";
    EXPECT_NE(o.err.find("tarvex: " + tried), std::string::npos) << all(trace);
    EXPECT_EQ(o.status, 0xFFFFFFFFu);
}

} // namespace
