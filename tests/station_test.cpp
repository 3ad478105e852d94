// The window station that the choice tests start launchers in, in place of
// a service's or a remote shell's: it hands out device contexts like any
// other, so only its flags tell that nobody sees it.

#include "harness.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

using namespace harness;

namespace {

bool visible(HWINSTA station)
{
    USEROBJECTFLAGS flags = {};
    DWORD needed = 0;
    return GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, &needed) &&
           (flags.dwFlags & WSF_VISIBLE) != 0;
}

// The fixture itself: the driver's own station is the visible one, and the
// test's own is not.
TEST(UnseenStation, IsNotVisibleUnlikeTheDriversOwn)
{
    ASSERT_NE(unseen_desktop(), nullptr) << "no station: error " << GetLastError();
    EXPECT_TRUE(visible(GetProcessWindowStation()));
    HWINSTA station = OpenWindowStationW(L"tarvex-unseen", FALSE, WINSTA_READATTRIBUTES);
    ASSERT_NE(station, nullptr);
    EXPECT_FALSE(visible(station));
    CloseWindowStation(station);
}

TEST(UnseenStation, TraceSaysTheStationIsNotVisible)
{
    ASSERT_NE(unseen_desktop(), nullptr);
    Launch launch{acp(real_launcher), L"t -q", base_env({"TARVEX_LAUNCHER_DEBUG=1"})};
    launch.desktop = unseen_desktop();
    const Outcome o = run(launch);
    ASSERT_TRUE(o.child.ran);
    EXPECT_NE(o.err.find("\r\ntarvex: display probed: none, the window station is not visible, so nobody "
                         "could see a window\r\n"),
              std::string::npos)
        << o.err;
}

} // namespace
