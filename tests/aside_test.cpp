// The launcher stands aside once its child runs: a reader of a pipe it was
// handed gets end of file when the child closes its end, and the directory
// it was started in can be removed while the child runs. Each case runs
// with the child started directly too: that shows wine produces the effect
// at all, so that a pass through the launcher means something.

#include "harness.h"
#include "payload.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <process.h>

#include <string>
#include <thread>
#include <vector>

using namespace harness;

namespace {

struct Started {
    const char* name;
    std::string program;
    Args args;
};

void PrintTo(const Started& s, std::ostream* os) { *os << s.name; }

const std::vector<Started> ways = {
    Started{"ChildDirectly", cli_in(apps_root), {}},
    Started{"Launcher", real_launcher, {"--no-gui-libs"}},
    Started{"LauncherGuiPath", real_launcher, {}},
};

// A pipe whose write end only the started process inherits.
struct Pipe {
    HANDLE read = nullptr;
    HANDLE write = nullptr;
};

Pipe inheritable_write_end()
{
    Pipe pipe;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    EXPECT_TRUE(CreatePipe(&pipe.read, &pipe.write, &inherit, 0));
    SetHandleInformation(pipe.read, HANDLE_FLAG_INHERIT, 0);
    return pipe;
}

std::string read_to_end(HANDLE pipe)
{
    std::string bytes;
    char buffer[4096];
    DWORD n = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &n, nullptr) && n > 0)
        bytes.append(buffer, n);
    return bytes;
}

// The child, found by its record, still runs; then it is ended with a
// status of the test's choosing, which the launch must end with.
void expect_child_runs_then_end_it(const std::string& record_path, HANDLE launch, const char* what)
{
    Running view;
    view.record_path = record_path;
    const Record record = wait_for_child(view);
    ASSERT_TRUE(record.ran);
    HANDLE child = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, record.pid);
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(WaitForSingleObject(child, 0), static_cast<DWORD>(WAIT_TIMEOUT))
        << what << " only once the child had ended";
    TerminateProcess(child, 0x2a);
    CloseHandle(child);
    EXPECT_EQ(WaitForSingleObject(launch, 60000), static_cast<DWORD>(WAIT_OBJECT_0));
    DWORD status = 0;
    GetExitCodeProcess(launch, &status);
    EXPECT_EQ(status, 0x2au);
}

// ---- pipes as standard handles ----

struct Stream {
    const char* name;
    const char* mode;
    bool output;
    bool error;
};

void PrintTo(const Stream& s, std::ostream* os) { *os << s.name; }

class PipeTest : public testing::TestWithParam<std::tuple<Stream, Started>> {};

TEST_P(PipeTest, EndOfFileComesWhenTheChildClosesItsEnd)
{
    const Stream& stream = std::get<0>(GetParam());
    const Started& way = std::get<1>(GetParam());
    Pipe pipe = inheritable_write_end();
    Launch launch{acp(way.program), command_line_of(way.program, way.args),
                  base_env({std::string("TARVEX_TEST_MODE=") + stream.mode})};
    if (stream.output)
        launch.std_output = pipe.write;
    if (stream.error)
        launch.std_error = pipe.write;
    Running running = start(launch);
    CloseHandle(pipe.write);
    ASSERT_NE(running.process, nullptr);
    const std::string read = read_to_end(pipe.read);
    CloseHandle(pipe.read);
    EXPECT_EQ(read.size(), payload().size());
    EXPECT_TRUE(read == payload()) << "the output before the close did not arrive whole";
    expect_child_runs_then_end_it(running.record_path, running.process, "end of file came");
    CloseHandle(running.process);
}

INSTANTIATE_TEST_SUITE_P(Aside, PipeTest, testing::Combine(
    testing::Values(Stream{"StandardOutput", "close-stdout", true, false},
                    Stream{"StandardError", "close-stderr", false, true},
                    Stream{"OneHandleForBoth", "close-stdout", true, true}),
    testing::ValuesIn(ways)),
    [](const testing::TestParamInfo<std::tuple<Stream, Started>>& info) {
        return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).name;
    });

// The trace still has its last line to write when the child closes its
// standard error: that pipe stays open until the launcher ends, and the
// line arrives.
TEST(Aside, TraceKeepsStandardErrorToTheEnd)
{
    Pipe pipe = inheritable_write_end();
    Launch launch{acp(real_launcher), L"t --no-gui-libs",
                  base_env(Args{"TARVEX_TEST_MODE=close-stderr", "TARVEX_LAUNCHER_DEBUG=1"})};
    launch.std_error = pipe.write;
    Running running = start(launch);
    CloseHandle(pipe.write);
    ASSERT_NE(running.process, nullptr);
    std::string read;
    std::thread reader([&] { read = read_to_end(pipe.read); });
    const bool aside = wait_for_aside(running.record_path);
    expect_child_runs_then_end_it(running.record_path, running.process, "the child's end was closed");
    reader.join();
    CloseHandle(pipe.read);
    CloseHandle(running.process);
    ASSERT_TRUE(aside);
    EXPECT_NE(read.find(payload()), std::string::npos) << "the child's output did not arrive whole";
    const std::string last = "tarvex: exit status 42 (0x0000002A)\r\n";
    ASSERT_GE(read.size(), last.size());
    EXPECT_EQ(read.substr(read.size() - last.size()), last);
}

// ---- a pipe handed on as the C runtime's descriptor 3 ----

class DescriptorTest : public testing::TestWithParam<Started> {};

TEST_P(DescriptorTest, EndOfFileComesWhenTheChildClosesIt)
{
    const Started& way = GetParam();
    Pipe pipe = inheritable_write_end();
    // The driver's own runtime hands descriptor 3 on, as a caller's would.
    const int write_fd = _open_osfhandle(reinterpret_cast<intptr_t>(pipe.write), _O_BINARY);
    ASSERT_GE(write_fd, 0);
    if (write_fd != 3) {
        ASSERT_EQ(_dup2(write_fd, 3), 0);
        _close(write_fd);
    }
    Env env = base_env({"TARVEX_TEST_MODE=close-fd3"});
    std::vector<const wchar_t*> envp;
    for (const std::wstring& entry : env)
        envp.push_back(entry.c_str());
    envp.push_back(nullptr);
    const std::wstring program = acp(way.program);
    std::vector<std::wstring> args = {acp(quote_always(way.program))};
    for (const std::string& arg : way.args)
        args.push_back(acp(arg));
    std::vector<const wchar_t*> argv;
    for (const std::wstring& arg : args)
        argv.push_back(arg.c_str());
    argv.push_back(nullptr);
    const intptr_t process = _wspawnve(_P_NOWAIT, program.c_str(), argv.data(), envp.data());
    _close(3);
    ASSERT_NE(process, -1);
    const std::string read = read_to_end(pipe.read);
    CloseHandle(pipe.read);
    EXPECT_TRUE(read == payload()) << "got " << read.size() << " bytes";
    expect_child_runs_then_end_it(record_path_in(env), reinterpret_cast<HANDLE>(process), "end of file came");
    CloseHandle(reinterpret_cast<HANDLE>(process));
}

INSTANTIATE_TEST_SUITE_P(Aside, DescriptorTest, testing::ValuesIn(ways),
    [](const testing::TestParamInfo<Started>& info) { return std::string(info.param.name); });

// ---- the caller's current directory ----

class DirectoryTest : public testing::TestWithParam<Started> {};

TEST_P(DirectoryTest, CanBeRemovedOnceTheChildHasLeftIt)
{
    const Started& way = GetParam();
    const std::string dir = current_test_file(".dir");
    RemoveDirectoryA(dir.c_str());
    ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
    Launch launch{acp(way.program), command_line_of(way.program, way.args),
                  base_env({"TARVEX_TEST_MODE=leave-directory"})};
    launch.directory = acp(dir);
    Running running = start(launch);
    ASSERT_NE(running.process, nullptr);
    ASSERT_TRUE(wait_for_aside(running.record_path));
    EXPECT_TRUE(RemoveDirectoryA(dir.c_str())) << "error " << GetLastError();
    expect_child_runs_then_end_it(running.record_path, running.process, "the directory was removed");
    CloseHandle(running.process);
}

INSTANTIATE_TEST_SUITE_P(Aside, DirectoryTest, testing::ValuesIn(ways),
    [](const testing::TestParamInfo<Started>& info) { return std::string(info.param.name); });

TEST(Aside, ChildStartsInTheCallersDirectory)
{
    Launch launch{acp(real_launcher), L"t --no-gui-libs x", base_env()};
    launch.directory = L"C:\\Apps";
    const Outcome o = run(launch);
    ASSERT_TRUE(o.child.ran);
    // A relative path resolves against where the caller stood.
    EXPECT_EQ(o.child.argv, child_vector(cli_in(apps_root), {"x"}));
}

// ---- what the child receives is unchanged ----

TEST(Aside, StandardInputFromAPipeReachesTheChildWhole)
{
    for (const Started& way : ways) {
        SCOPED_TRACE(way.name);
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        HANDLE read = nullptr;
        HANDLE write = nullptr;
        ASSERT_TRUE(CreatePipe(&read, &write, &inherit, 0));
        SetHandleInformation(write, HANDLE_FLAG_INHERIT, 0);
        // Written whole before the start: no more than a pipe holds.
        const std::string input = payload().substr(0, 4000);
        DWORD n = 0;
        ASSERT_TRUE(WriteFile(write, input.data(), static_cast<DWORD>(input.size()), &n, nullptr));
        CloseHandle(write);
        Launch launch{acp(way.program), command_line_of(way.program, way.args),
                      base_env({"TARVEX_TEST_MODE=echo"})};
        launch.std_input = read;
        const Running running = start(launch);
        CloseHandle(read);
        const Outcome o = finish(running);
        ASSERT_TRUE(o.child.ran);
        EXPECT_TRUE(o.out == input) << "got " << o.out.size() << " bytes";
        EXPECT_EQ(o.status, 0u);
    }
}

} // namespace
