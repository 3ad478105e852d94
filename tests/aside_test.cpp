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

#include <algorithm>
#include <cstdint>
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

// ---- descriptors the caller's runtime listed but never handed on ----

// The block in which a caller's C runtime lists its descriptors: their
// count, a flag byte each, then a handle each. Descriptors 0 to 2 are left
// to the standard handles; the rest are listed as open pipes.
std::string descriptor_block(const std::vector<HANDLE>& from_3)
{
    const int count = static_cast<int>(3 + from_3.size());
    const char unlisted = 0;
    const char open_pipe = 0x09;
    std::vector<HANDLE> handles(3, INVALID_HANDLE_VALUE);
    handles.insert(handles.end(), from_3.begin(), from_3.end());
    std::string block(reinterpret_cast<const char*>(&count), sizeof count);
    block.append(3, unlisted);
    block.append(from_3.size(), open_pipe);
    block.append(reinterpret_cast<const char*>(handles.data()), handles.size() * sizeof(HANDLE));
    return block;
}

// The names the trace gives in its line for standing aside: those it
// released, or those it left alone.
std::vector<std::string> aside_names(const std::string& err, bool released)
{
    const std::string start = "tarvex: stood aside: released ";
    const std::size_t line = err.find(start);
    if (line == std::string::npos)
        return {};
    const std::size_t left = err.find("; left alone ", line);
    const std::size_t end = err.find("\r\n", line);
    std::string list = released ? err.substr(line + start.size(), left - line - start.size())
                                : err.substr(left + 13, end - left - 13);
    std::vector<std::string> names;
    for (std::size_t at = 0, comma; at < list.size(); at = comma + 2) {
        comma = std::min(list.find(", ", at), list.size());
        names.push_back(list.substr(at, comma - at));
    }
    return names;
}

bool holds(const std::vector<std::string>& names, const std::string& name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

// Only an inheritable pipe or file can reach a child, and so only such a
// listed descriptor is released; the trace says which.
TEST(Aside, ListedDescriptorIsReleasedOnlyIfItsHandleWasHandedOn)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    const std::string dir = current_test_file(".dir");
    CreateDirectoryA(dir.c_str(), nullptr);
    HANDLE directory = CreateFileA(dir.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(directory, INVALID_HANDLE_VALUE);
    Pipe pipe = inheritable_write_end();
    const struct {
        const char* what;
        HANDLE handle;
        bool released;
    } listed[] = {{"an inheritable pipe", pipe.write, true}, {"an inheritable directory", directory, false}};
    for (const auto& l : listed) {
        SCOPED_TRACE(l.what);
        Launch launch{acp(real_launcher), L"t --no-gui-libs",
                      base_env(Args{"TARVEX_TEST_EXIT=42", "TARVEX_LAUNCHER_DEBUG=1"})};
        launch.descriptor_block = descriptor_block({l.handle});
        const Outcome o = run(launch);
        ASSERT_TRUE(o.child.ran);
        EXPECT_EQ(o.status, 42u);
        EXPECT_EQ(holds(aside_names(o.err, true), "descriptor 3"), l.released) << o.err;
        EXPECT_EQ(holds(aside_names(o.err, false), "descriptor 3"), !l.released) << o.err;
    }
    CloseHandle(pipe.read);
    CloseHandle(pipe.write);
    CloseHandle(directory);
}

// The trace's line for standing aside, once the launcher has written it.
std::string wait_for_aside_line(const std::string& err_path)
{
    for (int waited = 0; waited < 120000; waited += 20) {
        const std::string err = read_file(err_path);
        const std::size_t line = err.find("tarvex: stood aside: ");
        if (line != std::string::npos && err.find("\r\n", line) != std::string::npos)
            return err;
        Sleep(20);
    }
    return std::string();
}

// A runtime lists every descriptor it has open, even one that wraps a
// handle that could not be inherited, such as a pipe made with
// CreatePipe's defaults. In the launcher such a value names nothing of the
// caller's: nothing, a handle of the launcher's own (its current
// directory, say), or one it makes later (its job, whose closing ends the
// child, or the child's process, without which the wait fails). Every
// small value is listed here, and one of them names a pipe the launcher
// holds from its start: it must stay open until the launcher ends.
TEST(Aside, ListedValuesThatNameTheLaunchersOwnHandlesAreLeftAlone)
{
    std::vector<HANDLE> values;
    for (std::uintptr_t value = 4; value <= 0x2000; value += 4)
        values.push_back(reinterpret_cast<HANDLE>(value));
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    ASSERT_TRUE(CreatePipe(&read, &write, nullptr, 0));
    Launch launch{acp(real_launcher), L"t --no-gui-libs",
                  base_env(Args{"TARVEX_TEST_MODE=wait", "TARVEX_LAUNCHER_DEBUG=1"})};
    launch.descriptor_block = descriptor_block(values);
    launch.planted = write;
    const Running running = start(launch);
    CloseHandle(write);
    ASSERT_NE(running.process, nullptr);
    ASSERT_LE(running.planted, 0x2000u);
    const std::string err = wait_for_aside_line(running.err_path);
    DWORD available = 0;
    EXPECT_TRUE(PeekNamedPipe(read, nullptr, 0, nullptr, &available, nullptr))
        << "the launcher closed a pipe of its own: error " << GetLastError();
    CloseHandle(read);
    const std::string planted = "descriptor " + std::to_string(running.planted / 4 + 2);
    EXPECT_TRUE(holds(aside_names(err, false), planted)) << planted << " in " << err;
    EXPECT_FALSE(holds(aside_names(err, true), planted)) << planted << " in " << err;
    expect_child_runs_then_end_it(running.record_path, running.process, "the launcher ended");
    CloseHandle(running.process);
}

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
