// The child lives and ends with its launcher: ended with it when the
// launcher is killed, left to finish its own work when the system ends the
// launcher for a console event, never the reason a launch fails.

#include "harness.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>

using namespace harness;

namespace {

// A process found by its id, ended when the test is done with it.
struct Watched {
    HANDLE handle;
    explicit Watched(std::uint32_t pid)
        : handle(OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid))
    {
    }
    ~Watched()
    {
        if (handle) {
            TerminateProcess(handle, 1);
            CloseHandle(handle);
        }
    }
    bool ends_within(DWORD ms) const { return WaitForSingleObject(handle, ms) == WAIT_OBJECT_0; }
};

// The name the job once had, which any process of the session could open
// or take beforehand.
const std::wstring old_job_prefix = L"tarvex-launcher-";

// A launch whose child runs for a minute, once the child has begun; the
// child is watched from the test.
class ChildRunning : public testing::Test {
protected:
    void SetUp() override
    {
        Launch launch{acp(real_launcher), L"t", base_env({"TARVEX_TEST_MODE=wait"})};
        launch.held_job_prefix = held_job_prefix;
        running = start(launch);
        const Record record = wait_for_child(running);
        ASSERT_TRUE(record.ran);
        child_pid = record.pid;
        child = std::make_unique<Watched>(record.pid);
        ASSERT_NE(child->handle, nullptr);
    }
    void TearDown() override
    {
        child.reset();
        end();
    }

    // The launch's outcome, once it has ended; waited for only once.
    const Outcome& end()
    {
        if (!ended)
            outcome = finish(running);
        ended = true;
        return outcome;
    }

    std::wstring held_job_prefix;
    Running running;
    std::uint32_t child_pid = 0;
    std::unique_ptr<Watched> child;
    Outcome outcome;
    bool ended = false;
};

TEST_F(ChildRunning, KillingTheLauncherEndsTheChild)
{
    ASSERT_TRUE(TerminateProcess(running.process, 1));
    EXPECT_TRUE(child->ends_within(2000)) << "the child outlived its launcher";
}

TEST_F(ChildRunning, NobodyCanOpenTheJobByName)
{
    HANDLE query = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, child_pid);
    ASSERT_NE(query, nullptr);
    BOOL in_job = FALSE;
    EXPECT_TRUE(IsProcessInJob(query, nullptr, &in_job)) << GetLastError();
    EXPECT_TRUE(in_job) << "the child is in no job";
    CloseHandle(query);
    const std::wstring name = old_job_prefix + std::to_wstring(GetProcessId(running.process));
    HANDLE job = OpenJobObjectW(JOB_OBJECT_QUERY, FALSE, name.c_str());
    EXPECT_EQ(job, nullptr) << "the launcher's job can be opened by its name";
    if (job)
        CloseHandle(job);
}

class NameTakenBeforehand : public ChildRunning {
protected:
    void SetUp() override
    {
        held_job_prefix = old_job_prefix;
        ChildRunning::SetUp();
    }
};

TEST_F(NameTakenBeforehand, KillingTheLauncherStillEndsTheChild)
{
    ASSERT_NE(running.held_job, nullptr);
    ASSERT_TRUE(TerminateProcess(running.process, 1));
    EXPECT_TRUE(child->ends_within(2000)) << "the child outlived its launcher";
}

TEST(Lifetime, AProcessTheChildLeavesRunningOutlivesTheLaunchersEnd)
{
    const Running running = start({acp(real_launcher), L"t", base_env({"TARVEX_TEST_MODE=helper"})});
    const Outcome o = finish(running);
    ASSERT_TRUE(o.child.ran);
    EXPECT_EQ(o.status, 0u);
    const Record helper = helper_record(running);
    ASSERT_TRUE(helper.ran) << "the child's helper never started";
    const Watched watched(helper.pid);
    ASSERT_NE(watched.handle, nullptr) << "the helper ended with the launcher";
    EXPECT_FALSE(watched.ends_within(1000)) << "the helper ended with the launcher";
}

// The system delivers console events on a thread it starts in the process
// at kernel32's CtrlRoutine; a test can do the same, to the launcher alone.
class ConsoleEventTest : public ChildRunning, public testing::WithParamInterface<DWORD> {
protected:
    void deliver_to_launcher()
    {
        const auto routine = reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<void (*)()>(
            GetProcAddress(GetModuleHandleA("kernel32.dll"), "CtrlRoutine")));
        ASSERT_NE(routine, nullptr);
        HANDLE thread = CreateRemoteThread(running.process, nullptr, 0, routine,
            reinterpret_cast<void*>(static_cast<DWORD_PTR>(GetParam())), 0, nullptr);
        ASSERT_NE(thread, nullptr) << GetLastError();
        WaitForSingleObject(thread, 10000);
        CloseHandle(thread);
    }
};

std::string event_name(const testing::TestParamInfo<DWORD>& info)
{
    switch (info.param) {
    case CTRL_C_EVENT: return "CtrlC";
    case CTRL_BREAK_EVENT: return "CtrlBreak";
    case CTRL_CLOSE_EVENT: return "Close";
    case CTRL_LOGOFF_EVENT: return "Logoff";
    default: return "Shutdown";
    }
}

// After the handlers the system ends the launcher; the child must be left
// to finish on its own.
class EndingEventTest : public ConsoleEventTest {};

TEST_P(EndingEventTest, SystemEndingTheLauncherLeavesTheChildItsChance)
{
    deliver_to_launcher();
    if (WaitForSingleObject(running.process, 1000) == WAIT_TIMEOUT)
        TerminateProcess(running.process, 1);
    EXPECT_FALSE(child->ends_within(2000)) << "the child was ended with its launcher";
}

INSTANTIATE_TEST_SUITE_P(Events, EndingEventTest,
    testing::Values(CTRL_CLOSE_EVENT, CTRL_LOGOFF_EVENT, CTRL_SHUTDOWN_EVENT), event_name);

// An interrupt is the child's to decide: the launcher keeps waiting and
// ends with the child's status. (Wine's console cannot send Ctrl+Break.)
class InterruptEventTest : public ConsoleEventTest {};

TEST_P(InterruptEventTest, LauncherKeepsWaitingForTheChild)
{
    deliver_to_launcher();
    EXPECT_EQ(WaitForSingleObject(running.process, 1000), static_cast<DWORD>(WAIT_TIMEOUT));
    TerminateProcess(child->handle, 0x2a);
    EXPECT_EQ(end().status, 0x2au);
}

INSTANTIATE_TEST_SUITE_P(Events, InterruptEventTest,
    testing::Values(CTRL_C_EVENT, CTRL_BREAK_EVENT), event_name);

// Without a job of its own (the platform refuses it, or the launcher is in
// a job that allows no breakaway) the launch goes on exactly as before.
struct Jobless {
    const char* name;
    const char* launcher;
    bool in_job;
};

void PrintTo(const Jobless& j, std::ostream* os) { *os << j.name; }

class JoblessTest : public testing::TestWithParam<Jobless> {};

TEST_P(JoblessTest, StillStartsWaitsAndPassesTheStatusOn)
{
    const Jobless& j = GetParam();
    for (const char* status : {"0", "0x2a", "0xC0000005"}) {
        Launch launch{acp(j.launcher), L"t a\u00e9", base_env({std::string("TARVEX_TEST_EXIT=") + status})};
        launch.in_job = j.in_job;
        const Outcome o = run(launch);
        ASSERT_TRUE(o.child.ran);
        EXPECT_EQ(o.child.wide_argv, child_vector(acp(gui_in(apps_root)), {L"a\u00e9"}));
        EXPECT_EQ(o.status, std::stoul(status, nullptr, 0));
        EXPECT_EQ(o.out + o.err, "");
    }
}

INSTANTIATE_TEST_SUITE_P(Platforms, JoblessTest, testing::Values(
    Jobless{"InsideAJobOfTheCallers", real_launcher, true},
    Jobless{"AssignmentRefused", nojob_launcher, false},
    Jobless{"AssignmentRefusedInsideAJob", nojob_launcher, true}),
    [](const testing::TestParamInfo<Jobless>& info) { return std::string(info.param.name); });

TEST(Lifetime, StartFailureStillGivesMinusOneAndNoOutput)
{
    for (const char* launcher : {real_launcher, nojob_launcher}) {
        const Outcome o = run_args(launcher, {"--no-gui-libs"}, {"TARVEX_BINDIR=C:\\nowhere"});
        EXPECT_FALSE(o.child.ran);
        EXPECT_EQ(o.status, 0xFFFFFFFFu);
        EXPECT_EQ(o.out + o.err, "");
    }
}

// ---- the display probe on an older loader ----

TEST(OlderLoader, ProbeStillFindsTheDisplay)
{
    const Outcome o = run_args(old_loader_launcher, {"x"});
    ASSERT_TRUE(o.child.ran);
    EXPECT_EQ(o.child.argv, child_vector(gui_in(apps_root), {"x"}));
    EXPECT_EQ(o.err, "");
}

} // namespace
