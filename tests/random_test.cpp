// Randomized round trips: thousands of argument vectors, many to a launch,
// must reach the child exactly, as its runtime splits them and as the
// system's own splitter reads its command line. Once as ANSI bytes, once as
// UTF-16 units of every kind. TARVEX_TEST_SEED picks another seed.

#include "harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

using namespace harness;

namespace {

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

// Characters that look like quotes, backslashes or spaces, or that a code
// page would turn into one: none of them may act as one.
const wchar_t look_alikes[] = {0x3000, 0xFF02, 0xFF3C, 0x03C0, 0x221E, 0x201C, 0x2033, 0x00A0,
                               0x2028, 0xFEFF, 0x0301, 0x00A5, 0x20A9, 0x30BD, 0x8868};

// The same classes as above, and then UTF-16 units of every kind: Latin-1,
// anywhere in the Basic Multilingual Plane, CJK, look-alikes, surrogate
// pairs, and high and low surrogates standing alone.
std::wstring random_utf16_argument(std::mt19937& rng)
{
    std::uniform_int_distribution<int> percent(0, 99);
    std::uniform_int_distribution<int> length(0, 14);
    std::uniform_int_distribution<int> control(1, 31);
    std::uniform_int_distribution<int> run(2, 9);
    std::uniform_int_distribution<int> printable(0x21, 0x7E);
    std::uniform_int_distribution<int> latin1(0x80, 0xFF);
    std::uniform_int_distribution<int> bmp(0x100, 0xFFFF - 0x800);
    std::uniform_int_distribution<int> cjk(0x4E00, 0x9FFF);
    std::uniform_int_distribution<std::size_t> look_alike(0, std::size(look_alikes) - 1);
    std::uniform_int_distribution<int> astral(0x10000, 0x10FFFF);
    std::uniform_int_distribution<int> high(0xD800, 0xDBFF);
    std::uniform_int_distribution<int> low(0xDC00, 0xDFFF);
    if (percent(rng) < 8)
        return L"";
    std::wstring arg;
    for (int i = length(rng); i >= 0; --i) {
        const int p = percent(rng);
        if (p < 14) {
            arg += L'"';
        } else if (p < 24) {
            arg += L'\\';
        } else if (p < 29) {
            arg.append(run(rng), L'\\');
        } else if (p < 36) {
            arg += L' ';
        } else if (p < 39) {
            arg += L'\t';
        } else if (p < 43) {
            arg += static_cast<wchar_t>(control(rng));
        } else if (p < 49) {
            arg += static_cast<wchar_t>(printable(rng));
        } else if (p < 54) {
            arg += static_cast<wchar_t>(latin1(rng));
        } else if (p < 61) {
            // Skips the surrogate range: those come below, on purpose.
            const int unit = bmp(rng);
            arg += static_cast<wchar_t>(unit < 0xD800 ? unit : unit + 0x800);
        } else if (p < 67) {
            arg += static_cast<wchar_t>(cjk(rng));
        } else if (p < 75) {
            arg += look_alikes[look_alike(rng)];
        } else if (p < 85) {
            const int c = astral(rng) - 0x10000;
            arg += static_cast<wchar_t>(0xD800 + (c >> 10));
            arg += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
        } else if (p < 93) {
            arg += static_cast<wchar_t>(high(rng));
        } else {
            arg += static_cast<wchar_t>(low(rng));
        }
    }
    return arg;
}

template <class S>
std::string escaped(const S& text)
{
    std::string out;
    for (auto unit : text) {
        const unsigned c = static_cast<unsigned>(unit) & (sizeof unit == 1 ? 0xFF : 0xFFFF);
        if (c >= 0x20 && c < 0x7f && c != '\\') {
            out += static_cast<char>(c);
            continue;
        }
        char hex[8];
        std::snprintf(hex, sizeof hex, c < 0x100 ? "\\x%02x" : "\\u%04x", c);
        out += hex;
    }
    return out;
}

template <class S>
std::string describe(const std::vector<S>& args)
{
    std::string text = "{";
    for (const S& arg : args)
        text += " \"" + escaped(arg) + "\"";
    return text + " }";
}

// What one launch gave back: the child's own vector, and the system
// splitter's reading of the child's command line.
template <class S>
struct Returned {
    bool ran;
    std::vector<S> argv;
    std::vector<S> shell;
};

Returned<std::string> launch_all(const Args& all)
{
    const Outcome o = run_args(real_launcher, all);
    return {o.child.ran, o.child.argv, split_with_shell32(o.child.command_line)};
}

Returned<std::wstring> launch_all(const WArgs& all)
{
    const Outcome o = run_wide(acp(real_launcher), all);
    return {o.child.ran, o.child.wide_argv, split_with_shell32(o.child.wide_command_line)};
}

template <class S>
std::vector<S> slice(const std::vector<S>& args, std::size_t at, std::size_t count)
{
    return std::vector<S>(args.begin() + std::min(at, args.size()),
                          args.begin() + std::min(at + count, args.size()));
}

template <class S, class Generate>
void round_trip(Generate random_argument)
{
    const char* seed_text = std::getenv("TARVEX_TEST_SEED");
    const unsigned seed = seed_text ? std::strtoul(seed_text, nullptr, 0) : 20261209u;
    constexpr int vectors = 10000;
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> vector_size(1, 6);
    const S no_gui_libs = {'-', '-', 'n', 'o', '-', 'g', 'u', 'i', '-', 'l', 'i', 'b', 's'};
    int done = 0;
    int launches = 0;
    while (done < vectors) {
        // Many vectors share one launch; the child's line stays well inside the limit.
        std::vector<std::vector<S>> batch;
        std::vector<S> all;
        std::size_t line = gui_in(std::string(apps_root)).size();
        while (done + static_cast<int>(batch.size()) < vectors && line < 24000) {
            std::vector<S> v;
            for (int i = vector_size(rng); i > 0; --i)
                v.push_back(random_argument(rng));
            if (std::find(v.begin(), v.end(), no_gui_libs) != v.end())
                continue;
            for (const S& arg : v)
                line += 3 + 2 * arg.size();
            all.insert(all.end(), v.begin(), v.end());
            batch.push_back(v);
        }
        const Returned<S> back = launch_all(all);
        ++launches;
        ASSERT_TRUE(back.ran) << "seed " << seed << ", launch " << launches;
        std::size_t at = 1;
        for (std::size_t i = 0; i < batch.size(); ++i) {
            const std::vector<S>& v = batch[i];
            const std::vector<S> got = slice(back.argv, at, v.size());
            const std::vector<S> shell = slice(back.shell, at, v.size());
            ASSERT_EQ(got, v) << "seed " << seed << ", vector " << done + i << ": sent "
                              << describe(v) << ", child got " << describe(got);
            ASSERT_EQ(shell, v) << "seed " << seed << ", vector " << done + i
                                << ": CommandLineToArgvW read " << describe(shell);
            at += v.size();
        }
        EXPECT_EQ(back.argv.size(), at);
        done += static_cast<int>(batch.size());
    }
    testing::Test::RecordProperty("vectors", done);
    testing::Test::RecordProperty("launches", launches);
    std::printf("%d random vectors in %d launches, seed %u\n", done, launches, seed);
}

TEST(RandomRoundTrip, TenThousandVectorsComeThroughUnchanged)
{
    round_trip<std::string>(random_argument);
}

TEST(RandomRoundTrip, TenThousandUtf16VectorsComeThroughUnchanged)
{
    round_trip<std::wstring>(random_utf16_argument);
}

} // namespace
