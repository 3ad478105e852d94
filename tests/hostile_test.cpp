// Whatever arrives, the child gets exactly the launcher's arguments, or is
// not started at all.

#include "harness.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <random>
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
    std::size_t length;   // of the child's whole command line
};

void PrintTo(const Boundary& b, std::ostream* os) { *os << b.name; }

class LimitTest : public testing::TestWithParam<Boundary> {};

TEST_P(LimitTest, ChildStartsOnlyWithItsWholeCommandLine)
{
    const Boundary& b = GetParam();
    const std::string& target = b.cli_build ? cli : gui;
    // target, one space, then the argument as the child's line holds it
    const std::size_t written = b.length - target.size() - 1;
    const std::string arg = b.wrapped ? "\x01" + std::string(written - 3, 'w')
                                      : std::string(written, 'p');
    Args args = {arg};
    if (b.cli_build)
        args.insert(args.begin(), "--no-gui-libs");
    const Outcome o = run({real_launcher, "t" + join_quoted(args), base_env()});
    if (b.length <= 32766) {
        ASSERT_TRUE(o.child.ran);
        EXPECT_EQ(o.child.command_line.size(), b.length);
        EXPECT_EQ(o.child.argv, child_vector(target, {arg}));
    } else {
        EXPECT_FALSE(o.child.ran);
        EXPECT_EQ(o.status, 0xFFFFFFFFu);
        EXPECT_EQ(o.out + o.err, "");
    }
}

INSTANTIATE_TEST_SUITE_P(Boundaries, LimitTest, testing::Values(
    Boundary{"GuiAtLimit", false, false, 32766}, Boundary{"GuiOverLimit", false, false, 32767},
    Boundary{"GuiQuotedAtLimit", false, true, 32766}, Boundary{"GuiQuotedOverLimit", false, true, 32767},
    Boundary{"CliAtLimit", true, false, 32766}, Boundary{"CliOverLimit", true, false, 32767},
    Boundary{"CliQuotedAtLimit", true, true, 32766}, Boundary{"CliQuotedOverLimit", true, true, 32767}),
    [](const testing::TestParamInfo<Boundary>& info) { return std::string(info.param.name); });

// ---- randomized round trip ----

// Bytes that matter to the splitting rules come often; every byte 0x01 to
// 0xFF can come.
std::string random_argument(std::mt19937& rng)
{
    std::uniform_int_distribution<int> percent(0, 99);
    std::uniform_int_distribution<int> length(0, 14);
    std::uniform_int_distribution<int> any_byte(1, 255);
    std::uniform_int_distribution<int> control(1, 31);
    std::uniform_int_distribution<int> run(2, 9);
    if (percent(rng) < 8)
        return "";
    std::string arg;
    for (int i = length(rng); i >= 0; --i) {
        const int p = percent(rng);
        if (p < 20)
            arg += '"';
        else if (p < 35)
            arg += '\\';
        else if (p < 42)
            arg.append(run(rng), '\\');
        else if (p < 52)
            arg += ' ';
        else if (p < 57)
            arg += '\t';
        else if (p < 65)
            arg += static_cast<char>(control(rng));
        else
            arg += static_cast<char>(any_byte(rng));
    }
    return arg;
}

std::string escaped(const std::string& text)
{
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7f && c != '\\') {
            out += static_cast<char>(c);
        } else {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string describe(const Args& args)
{
    std::string text = "{";
    for (const std::string& arg : args)
        text += " \"" + escaped(arg) + "\"";
    return text + " }";
}

TEST(RandomRoundTrip, TenThousandVectorsComeThroughUnchanged)
{
    const char* seed_text = std::getenv("TARVEX_TEST_SEED");
    const unsigned seed = seed_text ? std::strtoul(seed_text, nullptr, 0) : 20261209u;
    constexpr int vectors = 10000;
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> vector_size(1, 6);
    int done = 0;
    int launches = 0;
    while (done < vectors) {
        // Many vectors share one launch; the child's line stays well inside the limit.
        std::vector<Args> batch;
        Args all;
        std::size_t line = gui.size();
        while (done + static_cast<int>(batch.size()) < vectors && line < 24000) {
            Args v;
            for (int i = vector_size(rng); i > 0; --i)
                v.push_back(random_argument(rng));
            if (v == Args{"--no-gui-libs"})
                continue;
            for (const std::string& arg : v)
                line += 3 + 2 * arg.size();
            all.insert(all.end(), v.begin(), v.end());
            batch.push_back(v);
        }
        const Outcome o = run_args(real_launcher, all);
        ++launches;
        ASSERT_TRUE(o.child.ran) << "seed " << seed << ", launch " << launches;
        const Args split = split_with_shell32(o.child.command_line);
        std::size_t at = 1;
        for (std::size_t i = 0; i < batch.size(); ++i) {
            const Args& v = batch[i];
            const Args got(o.child.argv.begin() + std::min(at, o.child.argv.size()),
                           o.child.argv.begin() + std::min(at + v.size(), o.child.argv.size()));
            const Args shell(split.begin() + std::min(at, split.size()),
                             split.begin() + std::min(at + v.size(), split.size()));
            ASSERT_EQ(got, v) << "seed " << seed << ", vector " << done + i << ": sent "
                              << describe(v) << ", child got " << describe(got);
            ASSERT_EQ(shell, v) << "seed " << seed << ", vector " << done + i
                                << ": CommandLineToArgvW read " << describe(shell);
            at += v.size();
        }
        EXPECT_EQ(o.child.argv.size(), at);
        done += static_cast<int>(batch.size());
    }
    RecordProperty("vectors", done);
    RecordProperty("launches", launches);
    std::printf("%d random vectors in %d launches, seed %u\n", done, launches, seed);
}

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
    const Outcome o = run({real_launcher, line, base_env()});
    ASSERT_TRUE(o.child.ran);
    EXPECT_EQ(o.child.argv, child_vector(gui, args));
}

TEST(ExtremeInput, ArgumentOf32000Characters)
{
    const std::string arg(32000, 'y');
    const Outcome o = run({real_launcher, "t " + arg, base_env()});
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
             "Apps\\tarvex\\libexec\\tarvex\\4.0.1-rc3\\exec\\i686-w64-mingw32\\tarvex-gui.exe"},
    Variable{"RelativeBinDir", {"TARVEX_BINDIR=Apps/tarvex/bin"}, {"--no-gui-libs"},
             "Apps/tarvex/bin\\tarvex-cli.exe"}),
    [](const testing::TestParamInfo<Variable>& info) { return std::string(info.param.name); });

// ---- only the computed path is ever started ----

TEST(NoSearch, NeitherPathNorCurrentDirectoryIsSearched)
{
    // A same-named executable lies in the current directory and on PATH.
    Launch launch{real_launcher, "t --no-gui-libs",
                  base_env({"TARVEX_BINDIR=C:\\nowhere", "PATH=C:\\Apps\\tarvex\\bin"})};
    launch.directory = "C:\\Apps\\tarvex\\bin";
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
