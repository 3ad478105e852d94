// Ctrl+C while the child runs: the child alone decides, and the launcher
// waits for it and ends with its status. Needs a console, so this suite runs
// under a pseudo-terminal. (Wine's console cannot generate Ctrl+Break: it
// fails with ERROR_INVALID_HANDLE, so that event is not exercised here.)

#include "harness.h"

#include <gtest/gtest.h>
#include <windows.h>

using namespace harness;

namespace {

// The driver shares the console: it must survive its own events without
// passing an ignore flag on to the launcher.
BOOL WINAPI driver_survives(DWORD) { return TRUE; }

struct Interrupt {
    const char* name;
    DWORD event;
    const char* child_mode;
    bool child_handles;
};

void PrintTo(const Interrupt& i, std::ostream* os) { *os << i.name; }

class InterruptTest : public testing::TestWithParam<Interrupt> {
protected:
    void SetUp() override { SetConsoleCtrlHandler(driver_survives, TRUE); }
    void TearDown() override { SetConsoleCtrlHandler(driver_survives, FALSE); }

    // Starts the program, sends the event once the child runs, and checks
    // that the program outlives the event while a handling child finishes.
    Outcome interrupted(const std::string& program)
    {
        const Interrupt& i = GetParam();
        Launch launch{acp(program), L"t",
            base_env({std::string("TARVEX_TEST_MODE=") + i.child_mode, "TARVEX_TEST_EXIT=0x2a"})};
        const Running running = start(launch);
        if (!running.process)
            return Outcome{};
        for (int waited = 0; !child_started(running) && waited < 120000; waited += 20)
            Sleep(20);
        EXPECT_TRUE(child_started(running));
        EXPECT_TRUE(GenerateConsoleCtrlEvent(i.event, 0))
            << "no console to send the event to (error " << GetLastError()
            << "); run this suite under a pseudo-terminal";
        if (i.child_handles) {
            // The child takes a second to end after the event.
            EXPECT_EQ(WaitForSingleObject(running.process, 300), static_cast<DWORD>(WAIT_TIMEOUT));
        }
        return finish(running);
    }
};

TEST_P(InterruptTest, LauncherEndsWithTheChildsStatus)
{
    // The same child started directly shows what the event makes of it.
    const Outcome alone = interrupted(cli_in(apps_root));
    const Outcome launched = interrupted(real_launcher);
    EXPECT_TRUE(launched.child.ran);
    EXPECT_EQ(launched.status, alone.status);
    if (GetParam().child_handles) {
        EXPECT_EQ(launched.status, 0x2au);
    }
}

INSTANTIATE_TEST_SUITE_P(Events, InterruptTest, testing::Values(
    Interrupt{"CtrlCHandledByChild", CTRL_C_EVENT, "interrupt", true},
    Interrupt{"CtrlCEndsChild", CTRL_C_EVENT, "wait", false}),
    [](const testing::TestParamInfo<Interrupt>& info) { return std::string(info.param.name); });

} // namespace
