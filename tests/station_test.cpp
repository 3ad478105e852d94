// No GUI where nobody can see it: a service, a remote shell or a CI agent
// runs in a window station of its own, which hands out device contexts all
// the same but is not visible. There the real probe finds no display.

#include "harness.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

using namespace harness;

namespace {

const std::string fallback_lines =
    "tarvex: no graphical display found\r\ntarvex: disabling GUI features\r\n";

// A station of the test's own making, kept open for the whole run.
const wchar_t* unseen_desktop()
{
    static const HWINSTA station = CreateWindowStationW(L"tarvex-unseen", 0, WINSTA_ALL_ACCESS, nullptr);
    return station ? L"tarvex-unseen\\Default" : nullptr;
}

bool visible(HWINSTA station)
{
    USEROBJECTFLAGS flags = {};
    DWORD needed = 0;
    return GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, &needed) &&
           (flags.dwFlags & WSF_VISIBLE) != 0;
}

Outcome run_on(const wchar_t* desktop, const Args& args, const std::vector<std::string>& env = {})
{
    Launch launch{acp(real_launcher), command_line_of(real_launcher, args), base_env(env)};
    if (desktop)
        launch.desktop = desktop;
    return run(launch);
}

// The fixture itself: the driver's station is the visible one, the test's
// own is not, and a device context is to be had there all the same, so
// that only the station's flag can tell them apart.
TEST(UnseenStation, IsNotVisibleYetHandsOutDeviceContexts)
{
    ASSERT_NE(unseen_desktop(), nullptr) << "no station: error " << GetLastError();
    EXPECT_TRUE(visible(GetProcessWindowStation()));
    HWINSTA station = OpenWindowStationW(L"tarvex-unseen", FALSE, WINSTA_READATTRIBUTES);
    ASSERT_NE(station, nullptr);
    EXPECT_FALSE(visible(station));
    CloseWindowStation(station);
}

struct Unseen {
    const char* name;
    Args args;
    std::string started;
    Args passed;
    std::string err;
};

void PrintTo(const Unseen& u, std::ostream* os) { *os << u.name; }

class UnseenTest : public testing::TestWithParam<Unseen> {};

TEST_P(UnseenTest, StartsTheCommandLineBuild)
{
    const Unseen& u = GetParam();
    ASSERT_NE(unseen_desktop(), nullptr);
    const Outcome o = run_on(unseen_desktop(), u.args, {"TARVEX_TEST_EXIT=7"});
    ASSERT_TRUE(o.child.ran);
    EXPECT_EQ(o.child.argv, child_vector(u.started, u.passed));
    EXPECT_EQ(o.err, u.err);
    EXPECT_EQ(o.status, 7u);
}

INSTANTIATE_TEST_SUITE_P(UnseenStation, UnseenTest, testing::Values(
    Unseen{"Default", {"x"}, versioned_cli_in(apps_root), {"x"}, fallback_lines},
    Unseen{"NoGui", {"--no-gui"}, versioned_cli_in(apps_root), {"--no-gui"}, fallback_lines},
    Unseen{"Quiet", {"-q"}, versioned_cli_in(apps_root), {"-q"}, ""},
    Unseen{"NoGuiLibs", {"--no-gui-libs"}, cli_in(apps_root), {}, ""}),
    [](const testing::TestParamInfo<Unseen>& info) { return std::string(info.param.name); });

TEST(UnseenStation, VisibleDesktopKeepsTheGuiBuild)
{
    const Outcome o = run_on(nullptr, {"x"});
    ASSERT_TRUE(o.child.ran);
    EXPECT_EQ(o.child.argv, child_vector(gui_in(apps_root), {"x"}));
    EXPECT_EQ(o.err, "");
}

TEST(UnseenStation, TraceSaysTheStationIsNotVisible)
{
    ASSERT_NE(unseen_desktop(), nullptr);
    const Outcome o = run_on(unseen_desktop(), {"-q"}, {"TARVEX_LAUNCHER_DEBUG=1"});
    EXPECT_NE(o.err.find("\r\ntarvex: display probed: none, the window station is not visible, so nobody "
                         "could see a window\r\n"),
              std::string::npos)
        << o.err;
}

} // namespace
