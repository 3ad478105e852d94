#include "harness.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <shellapi.h>

#include <cstring>
#include <fstream>
#include <sstream>

namespace harness {

const char* const apps_root = "C:\\Apps\\tarvex";
const char* const prefix_root = "C:\\usr\\i686-w64-mingw32";
const char* const gui_tail = "\\libexec\\tarvex\\4.0.1-rc3\\exec\\i686-w64-mingw32\\tarvex-gui.exe";

const char* const real_launcher = "C:\\Apps\\tarvex\\bin\\tarvex.exe";
const char* const stub_launcher = "C:\\Apps\\tarvex\\bin\\tarvex-stub.exe";
const char* const nostrdup_launcher = "C:\\Apps\\tarvex\\bin\\tarvex-nostrdup.exe";

std::string gui_in(const std::string& root) { return root + gui_tail; }
std::string cli_in(const std::string& root) { return root + "\\bin\\tarvex-cli.exe"; }
std::string versioned_cli_in(const std::string& root)
{
    return root + "\\bin\\tarvex-cli-4.0.1-rc3.exe";
}

namespace {

const char* const records_dir = "C:\\tarvex-records";

// Build outputs live on the Unix side, reached through wine's Z: drive.
std::string from_unix(std::string path)
{
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return "Z:" + path;
}

// Wide, prefixed names: the deepest tree is too long for the ANSI calls.
std::wstring long_name(const std::string& path)
{
    return L"\\\\?\\" + std::wstring(path.begin(), path.end());
}

bool make_dirs(const std::string& path)
{
    for (std::size_t i = 3; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '\\') {
            const std::wstring part = long_name(path.substr(0, i));
            if (!CreateDirectoryW(part.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
                return false;
        }
    }
    return true;
}

bool copy_to(const std::string& from, const std::string& to)
{
    const std::size_t slash = to.rfind('\\');
    return make_dirs(to.substr(0, slash)) &&
           CopyFileW(long_name(from).c_str(), long_name(to).c_str(), FALSE);
}

const char* const long_launcher_name = "\\bin\\tarvex-launcher-with-a-long-name.exe";

bool stage_children(const std::string& root)
{
    const std::string child = from_unix(TARVEX_TEST_CHILD);
    return copy_to(child, gui_in(root)) && copy_to(child, cli_in(root)) &&
           copy_to(child, versioned_cli_in(root));
}

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

Record read_record(const std::string& path)
{
    Record record;
    const std::string text = read_file(path);
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\0', start)) != std::string::npos; start = end + 1)
        fields.push_back(text.substr(start, end - start));
    if (fields.size() < 3)
        return record;
    const std::size_t argc = std::stoul(fields[0]);
    if (fields.size() != argc + 3)
        return record;
    record.ran = true;
    record.module = fields[1];
    record.command_line = fields[2];
    record.argv.assign(fields.begin() + 3, fields.end());
    return record;
}

std::string current_test_file(const char* extension)
{
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    for (char& c : name)
        if (c == '/')
            c = '_';
    return std::string(records_dir) + "\\" + name + extension;
}

HANDLE inheritable_file(const std::string& path, DWORD access, DWORD disposition)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::string environment_block(const std::vector<std::string>& env)
{
    std::string block;
    for (const std::string& entry : env)
        block += entry + '\0';
    return block + '\0';
}

} // namespace

// Deep enough that the launcher's path fills the module record to the last
// byte before its terminator; processes cannot start from deeper paths.
std::string long_path_root()
{
    std::string root = "C:\\deep\\";
    root.append(MAX_PATH - 1 - root.size() - std::strlen(long_launcher_name), 'd');
    return root;
}

std::string long_path_launcher() { return long_path_root() + long_launcher_name; }

bool stage()
{
    const std::string launcher = from_unix(TARVEX_TEST_LAUNCHER);
    bool ok = make_dirs(records_dir);
    for (const char* root : {apps_root, prefix_root, "C:\\Tools", "C:\\bin\\tarvex", "D:\\tv",
                             "C:\\Program Files\\tar vex"})
        ok = ok && stage_children(root);
    ok = ok && stage_children(long_path_root()) && copy_to(launcher, long_path_launcher());
    for (const char* place : {real_launcher, "C:\\Caps\\BIN\\tarvex.exe",
                              "C:\\Apps\\tarvex\\tarvex.exe", "C:\\Apps\\tarvex\\bin\\launch.exe",
                              "C:\\Tools\\bin\\tv\\tarvex.exe", "C:\\bin\\tarvex\\bin\\tarvex.exe",
                              "D:\\tv\\bin\\tarvex.exe", "C:\\Program Files\\tar vex\\bin\\tarvex.exe"})
        ok = ok && copy_to(launcher, place);
    ok = ok && copy_to(from_unix(TARVEX_TEST_STUB_LAUNCHER), stub_launcher);
    ok = ok && copy_to(from_unix(TARVEX_TEST_NOSTRDUP_LAUNCHER), nostrdup_launcher);
    return ok;
}

std::vector<std::string> base_env(const std::vector<std::string>& extra)
{
    const std::string record = current_test_file(".rec");
    DeleteFileA(record.c_str());
    std::vector<std::string> env = {"SystemRoot=C:\\windows", "TARVEX_TEST_RECORD=" + record};
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
}

Running start(const Launch& launch)
{
    Running running;
    running.out_path = current_test_file(".out");
    running.err_path = current_test_file(".err");
    const std::string in_path = current_test_file(".in");
    std::ofstream(in_path, std::ios::binary) << launch.input;
    for (const std::string& entry : launch.env)
        if (entry.rfind("TARVEX_TEST_RECORD=", 0) == 0)
            running.record_path = entry.substr(entry.find('=') + 1);

    HANDLE in = inheritable_file(in_path, GENERIC_READ, OPEN_EXISTING);
    HANDLE out = inheritable_file(running.out_path, GENERIC_WRITE, CREATE_ALWAYS);
    HANDLE err = inheritable_file(running.err_path, GENERIC_WRITE, CREATE_ALWAYS);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process = {};
    std::string command_line = launch.command_line;
    std::string env = environment_block(launch.env);
    const BOOL started = CreateProcessA(launch.program.c_str(), &command_line[0], nullptr, nullptr,
                                        TRUE, 0, &env[0], launch.directory.c_str(), &startup,
                                        &process);
    CloseHandle(in);
    CloseHandle(out);
    CloseHandle(err);
    EXPECT_TRUE(started) << "could not start " << launch.program << ": " << GetLastError();
    if (started) {
        CloseHandle(process.hThread);
        running.process = process.hProcess;
    }
    return running;
}

Outcome finish(const Running& running)
{
    Outcome outcome;
    if (!running.process)
        return outcome;
    const bool ended = WaitForSingleObject(running.process, 300000) == WAIT_OBJECT_0;
    EXPECT_TRUE(ended) << "the launch did not end within 300 s";
    if (!ended)
        TerminateProcess(running.process, 1);
    DWORD status = 0;
    GetExitCodeProcess(running.process, &status);
    CloseHandle(running.process);
    outcome.status = status;
    outcome.out = read_file(running.out_path);
    outcome.err = read_file(running.err_path);
    if (!running.record_path.empty())
        outcome.child = read_record(running.record_path);
    return outcome;
}

bool child_started(const Running& running)
{
    return GetFileAttributesA(running.record_path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

Outcome run(const Launch& launch) { return finish(start(launch)); }

Args child_vector(const std::string& target, const Args& passed)
{
    Args argv = {target};
    argv.insert(argv.end(), passed.begin(), passed.end());
    return argv;
}

std::string quote_always(const std::string& arg)
{
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        // Backslashes before a quote are doubled and the quote escaped;
        // elsewhere they stand as they are.
        quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(2 * backslashes, '\\');
    return quoted + "\"";
}

std::string join_quoted(const std::vector<std::string>& args)
{
    std::string line;
    for (const std::string& arg : args)
        line += " " + quote_always(arg);
    return line;
}

Outcome run_args(const std::string& program, const std::vector<std::string>& args,
                 const std::vector<std::string>& extra_env)
{
    return run({program, quote_always(program) + join_quoted(args), base_env(extra_env)});
}

std::vector<std::string> split_with_shell32(const std::string& command_line)
{
    std::vector<std::string> args;
    const int wide_size = MultiByteToWideChar(CP_ACP, 0, command_line.c_str(), -1, nullptr, 0);
    std::wstring wide(wide_size, L'\0');
    MultiByteToWideChar(CP_ACP, 0, command_line.c_str(), -1, &wide[0], wide_size);
    int count = 0;
    LPWSTR* split = CommandLineToArgvW(wide.c_str(), &count);
    for (int i = 0; split && i < count; ++i) {
        const int size = WideCharToMultiByte(CP_ACP, 0, split[i], -1, nullptr, 0, nullptr, nullptr);
        std::string arg(size, '\0');
        WideCharToMultiByte(CP_ACP, 0, split[i], -1, &arg[0], size, nullptr, nullptr);
        arg.resize(size - 1);
        args.push_back(arg);
    }
    LocalFree(split);
    return args;
}

} // namespace harness
