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
const char* const archlib_tail = "\\libexec\\tarvex\\" TARVEX_TEST_VERSION "\\exec\\i686-w64-mingw32";
const char* const versioned_cli_name = "tarvex-cli-" TARVEX_TEST_VERSION ".exe";

const wchar_t* const cjk_root = L"C:\\users\\\u5f20\u4e09\\tarvex";
const wchar_t* const cyrillic_root =
    L"C:\\\u041f\u043e\u043b\u044c\u0437\u043e\u0432\u0430\u0442\u0435\u043b\u0438\\"
    L"\u0418\u0432\u0430\u043d\\tarvex";
const wchar_t* const emoji_root = L"C:\\Apps \U0001F600\\tarvex";

const char* const real_launcher = "C:\\Apps\\tarvex\\bin\\tarvex.exe";
const char* const stub_launcher = "C:\\Apps\\tarvex\\bin\\tarvex-stub.exe";
const char* const nostrdup_launcher = "C:\\Apps\\tarvex\\bin\\tarvex-nostrdup.exe";
const char* const nojob_launcher = "C:\\Apps\\tarvex\\bin\\tarvex-nojob.exe";
const char* const old_loader_launcher = "C:\\Apps\\tarvex\\bin\\tarvex-oldloader.exe";
const char* const outside_bin_launcher = "C:\\Apps\\tarvex\\tarvex.exe";
const char* const renamed_launcher = "C:\\Renamed\\bin\\Tarvex.exe";
const char* const spelled_bin_launcher = "C:\\Spelled\\Bin\\tarvex.exe";
const char* const outside_bin_stub_launcher = "C:\\Apps\\tarvex\\tarvex-stub.exe";
const char* const drive_prefix_launcher = "C:\\Apps\\tarvex\\tarvex-driveprefix.exe";
const char* const drive_prefix_root = "C:\\Packaged\\usr\\i686-w64-mingw32";
const char* const share_prefix_launcher = "C:\\Apps\\tarvex\\tarvex-shareprefix.exe";

std::wstring acp(const std::string& text)
{
    if (text.empty())
        return std::wstring();
    const int size = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(size, L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], size);
    return wide;
}

std::string to_acp(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    const int size = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string narrow(size, '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &narrow[0], size,
                        nullptr, nullptr);
    return narrow;
}

namespace {

template <class S>
S text(const char* ascii)
{
    return S(ascii, ascii + std::strlen(ascii));
}

template <class S> S gui_path(const S& root) { return root + text<S>(archlib_tail) + text<S>("\\tarvex-gui.exe"); }
template <class S> S cli_path(const S& root) { return root + text<S>("\\bin\\tarvex-cli.exe"); }
template <class S> S versioned_cli_path(const S& root)
{
    return root + text<S>("\\bin\\") + text<S>(versioned_cli_name);
}

} // namespace

std::string gui_in(const std::string& root) { return gui_path(root); }
std::string cli_in(const std::string& root) { return cli_path(root); }
std::string versioned_cli_in(const std::string& root) { return versioned_cli_path(root); }
std::wstring gui_in(const std::wstring& root) { return gui_path(root); }
std::wstring cli_in(const std::wstring& root) { return cli_path(root); }
std::wstring versioned_cli_in(const std::wstring& root) { return versioned_cli_path(root); }

namespace {

const char* const records_dir = "C:\\tarvex-records";

// Build outputs live on the Unix side, reached through wine's Z: drive.
std::wstring from_unix(const char* path)
{
    std::wstring windows = L"Z:" + text<std::wstring>(path);
    for (wchar_t& c : windows)
        if (c == L'/')
            c = L'\\';
    return windows;
}

// Prefixed names: the deepest tree is too long for the plain calls.
std::wstring long_name(const std::wstring& path) { return L"\\\\?\\" + path; }

bool make_dirs(const std::wstring& path)
{
    for (std::size_t i = 3; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == L'\\') {
            const std::wstring part = long_name(path.substr(0, i));
            if (!CreateDirectoryW(part.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
                return false;
        }
    }
    return true;
}

bool copy_to(const std::wstring& from, const std::wstring& to)
{
    const std::size_t slash = to.rfind(L'\\');
    return make_dirs(to.substr(0, slash)) &&
           CopyFileW(long_name(from).c_str(), long_name(to).c_str(), FALSE);
}

const char* const long_launcher_name = "\\bin\\tarvex-launcher-with-a-long-name.exe";

bool stage_children(const std::wstring& root)
{
    const std::wstring child = from_unix(TARVEX_TEST_CHILD);
    return copy_to(child, gui_in(root)) && copy_to(child, cli_in(root)) &&
           copy_to(child, versioned_cli_in(root));
}

// NUL-separated fields: the argument count first, the arguments last, and
// before_args fields in all before them.
template <class S>
bool read_fields(const S& record, std::size_t before_args, std::vector<S>& fields)
{
    std::size_t start = 0;
    for (std::size_t end; (end = record.find(typename S::value_type(0), start)) != S::npos; start = end + 1)
        fields.push_back(record.substr(start, end - start));
    return fields.size() >= before_args && fields.size() == before_args + std::stoul(fields[0]);
}

// The child writes "<record>" with its ANSI view (count, process id, code
// page, module, command line, arguments) and then "<record>.wide" with its
// UTF-16 view (count, module, command line, arguments).
Record read_record(const std::string& path)
{
    Record record;
    Args fields;
    std::vector<std::wstring> wide;
    const std::string wide_bytes = read_file(path + ".wide");
    const std::wstring wide_text(reinterpret_cast<const wchar_t*>(wide_bytes.data()), wide_bytes.size() / 2);
    if (!read_fields(read_file(path), 5, fields) || !read_fields(wide_text, 3, wide))
        return record;
    record.ran = true;
    record.pid = static_cast<std::uint32_t>(std::stoul(fields[1]));
    record.code_page = static_cast<unsigned>(std::stoul(fields[2]));
    record.module = fields[3];
    record.command_line = fields[4];
    record.argv.assign(fields.begin() + 5, fields.end());
    record.wide_module = wide[1];
    record.wide_command_line = wide[2];
    record.wide_argv.assign(wide.begin() + 3, wide.end());
    return record;
}

} // namespace

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
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

namespace {

HANDLE inheritable_file(const std::string& path, DWORD access, DWORD disposition)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::wstring environment_block(const Env& env)
{
    std::wstring block;
    for (const std::wstring& entry : env)
        block += entry + L'\0';
    return block + L'\0';
}

// Suspended, put into a job of our own that allows no breakaway, resumed.
bool start_in_job(PROCESS_INFORMATION& process)
{
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    const bool ok = job && AssignProcessToJobObject(job, process.hProcess);
    // The job lives on as long as a process in it does.
    if (job)
        CloseHandle(job);
    ResumeThread(process.hThread);
    return ok;
}

template <class S>
S quote(const S& arg)
{
    S quoted(1, '"');
    std::size_t backslashes = 0;
    for (auto c : arg) {
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
    quoted += '"';
    return quoted;
}

template <class S>
S join(const std::vector<S>& args)
{
    S line;
    for (const S& arg : args)
        line += S(1, ' ') + quote(arg);
    return line;
}

template <class S>
std::vector<S> with_target(const S& target, const std::vector<S>& passed)
{
    std::vector<S> argv = {target};
    argv.insert(argv.end(), passed.begin(), passed.end());
    return argv;
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
    const std::wstring launcher = from_unix(TARVEX_TEST_LAUNCHER);
    bool ok = make_dirs(acp(records_dir));
    // Launchers first: the folders keep the spelling their paths give them.
    for (const char* place : {real_launcher, "C:\\Caps\\BIN\\tarvex.exe", outside_bin_launcher,
                              renamed_launcher, spelled_bin_launcher, "C:\\Apps\\tarvex\\bin\\launch.exe",
                              "C:\\Tools\\bin\\tv\\tarvex.exe", "C:\\bin\\tarvex\\bin\\tarvex.exe",
                              "D:\\tv\\bin\\tarvex.exe", "C:\\Program Files\\tar vex\\bin\\tarvex.exe"})
        ok = ok && copy_to(launcher, acp(place));
    for (const char* root : {apps_root, prefix_root, drive_prefix_root, "C:\\Tools", "C:\\bin\\tarvex",
                             "D:\\tv", "C:\\Program Files\\tar vex", "C:\\Renamed", "C:\\Spelled", "C:\\Caps"})
        ok = ok && stage_children(acp(root));
    for (const wchar_t* root : {cjk_root, cyrillic_root, emoji_root})
        ok = ok && stage_children(root) && copy_to(launcher, root + std::wstring(L"\\bin\\tarvex.exe"));
    ok = ok && stage_children(acp(long_path_root())) && copy_to(launcher, acp(long_path_launcher()));
    ok = ok && copy_to(from_unix(TARVEX_TEST_STUB_LAUNCHER), acp(stub_launcher));
    ok = ok && copy_to(from_unix(TARVEX_TEST_STUB_LAUNCHER), acp(outside_bin_stub_launcher));
    ok = ok && copy_to(from_unix(TARVEX_TEST_DRIVE_PREFIX_LAUNCHER), acp(drive_prefix_launcher));
    ok = ok && copy_to(from_unix(TARVEX_TEST_SHARE_PREFIX_LAUNCHER), acp(share_prefix_launcher));
    ok = ok && copy_to(from_unix(TARVEX_TEST_NOSTRDUP_LAUNCHER), acp(nostrdup_launcher));
    ok = ok && copy_to(from_unix(TARVEX_TEST_NOJOB_LAUNCHER), acp(nojob_launcher));
    ok = ok && copy_to(from_unix(TARVEX_TEST_OLD_LOADER_LAUNCHER), acp(old_loader_launcher));
    return ok;
}

Env base_env(const Env& extra)
{
    const std::string record = current_test_file(".rec");
    for (const std::string& file : {record, record + ".wide", record + ".helper", record + ".helper.wide",
                                    record + ".aside"})
        DeleteFileA(file.c_str());
    Env env = {L"SystemRoot=C:\\windows", L"TARVEX_TEST_RECORD=" + acp(record)};
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
}

Env base_env(const std::vector<std::string>& extra)
{
    Env wide;
    for (const std::string& entry : extra)
        wide.push_back(acp(entry));
    return base_env(wide);
}

std::string record_path_in(const Env& env)
{
    for (const std::wstring& entry : env)
        if (entry.rfind(L"TARVEX_TEST_RECORD=", 0) == 0)
            return to_acp(entry.substr(entry.find(L'=') + 1));
    return std::string();
}

Running start(const Launch& launch)
{
    Running running;
    running.out_path = current_test_file(".out");
    running.err_path = current_test_file(".err");
    const std::string in_path = current_test_file(".in");
    std::ofstream(in_path, std::ios::binary) << launch.input;
    running.record_path = record_path_in(launch.env);

    HANDLE in = inheritable_file(in_path, GENERIC_READ, OPEN_EXISTING);
    HANDLE out = inheritable_file(running.out_path, GENERIC_WRITE, CREATE_ALWAYS);
    HANDLE err = inheritable_file(running.err_path, GENERIC_WRITE, CREATE_ALWAYS);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = launch.std_input ? launch.std_input : in;
    startup.hStdOutput = launch.std_output ? launch.std_output : out;
    startup.hStdError = launch.std_error ? launch.std_error : err;
    std::wstring desktop = launch.desktop;
    if (!desktop.empty())
        startup.lpDesktop = &desktop[0];
    std::string block = launch.descriptor_block;
    if (!block.empty()) {
        startup.cbReserved2 = static_cast<WORD>(block.size());
        startup.lpReserved2 = reinterpret_cast<BYTE*>(&block[0]);
    }
    PROCESS_INFORMATION process = {};
    std::wstring command_line = launch.command_line;
    std::wstring env = environment_block(launch.env);
    const bool suspended = launch.in_job || !launch.held_job_prefix.empty() || launch.planted;
    const DWORD flags = CREATE_UNICODE_ENVIRONMENT | (suspended ? CREATE_SUSPENDED : 0);
    const BOOL started = CreateProcessW(launch.program.c_str(), &command_line[0], nullptr, nullptr,
                                        TRUE, flags, &env[0], launch.directory.c_str(), &startup,
                                        &process);
    CloseHandle(in);
    CloseHandle(out);
    CloseHandle(err);
    EXPECT_TRUE(started) << "could not start " << to_acp(launch.program) << ": " << GetLastError();
    if (started && !launch.held_job_prefix.empty()) {
        const std::wstring name = launch.held_job_prefix + std::to_wstring(process.dwProcessId);
        running.held_job = CreateJobObjectW(nullptr, name.c_str());
        EXPECT_NE(running.held_job, nullptr) << "could not take the job name";
    }
    if (started && launch.planted) {
        HANDLE planted = nullptr;
        EXPECT_TRUE(DuplicateHandle(GetCurrentProcess(), launch.planted, process.hProcess, &planted, 0, FALSE,
                                    DUPLICATE_SAME_ACCESS));
        running.planted = reinterpret_cast<std::uintptr_t>(planted);
    }
    if (started && suspended && !launch.in_job)
        ResumeThread(process.hThread);
    if (started && launch.in_job) {
        EXPECT_TRUE(start_in_job(process)) << "could not put the launcher into a job";
    }
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
    if (running.held_job)
        CloseHandle(running.held_job);
    outcome.status = status;
    outcome.out = read_file(running.out_path);
    outcome.err = read_file(running.err_path);
    if (!running.record_path.empty())
        outcome.child = read_record(running.record_path);
    return outcome;
}

bool child_started(const Running& running)
{
    return GetFileAttributesA((running.record_path + ".wide").c_str()) != INVALID_FILE_ATTRIBUTES;
}

Record wait_for_child(const Running& running)
{
    Record record;
    for (int waited = 0; !(record = read_record(running.record_path)).ran && waited < 120000; waited += 20)
        Sleep(20);
    return record;
}

Record helper_record(const Running& running) { return read_record(running.record_path + ".helper"); }

bool wait_for_aside(const std::string& record_path)
{
    const std::string marker = record_path + ".aside";
    for (int waited = 0; waited < 120000; waited += 20) {
        if (GetFileAttributesA(marker.c_str()) != INVALID_FILE_ATTRIBUTES)
            return true;
        Sleep(20);
    }
    return false;
}

Outcome run(const Launch& launch) { return finish(start(launch)); }

const wchar_t* unseen_desktop()
{
    // Kept open for the whole run: the station lasts while a handle does.
    static const HWINSTA station = CreateWindowStationW(L"tarvex-unseen", 0, WINSTA_ALL_ACCESS, nullptr);
    return station ? L"tarvex-unseen\\Default" : nullptr;
}

Args child_vector(const std::string& target, const Args& passed) { return with_target(target, passed); }
WArgs child_vector(const std::wstring& target, const WArgs& passed) { return with_target(target, passed); }

std::string quote_always(const std::string& arg) { return quote(arg); }
std::wstring quote_always(const std::wstring& arg) { return quote(arg); }
std::string join_quoted(const Args& args) { return join(args); }
std::wstring join_quoted(const WArgs& args) { return join(args); }

Outcome run_wide(const std::wstring& program, const WArgs& args, const Env& extra_env)
{
    return run({program, quote_always(program) + join_quoted(args), base_env(extra_env)});
}

std::wstring command_line_of(const std::string& program, const Args& args)
{
    WArgs wide;
    for (const std::string& arg : args)
        wide.push_back(acp(arg));
    return acp(quote_always(program)) + join_quoted(wide);
}

Outcome run_args(const std::string& program, const Args& args, const std::vector<std::string>& extra_env)
{
    return run({acp(program), command_line_of(program, args), base_env(extra_env)});
}

WArgs split_with_shell32(const std::wstring& command_line)
{
    WArgs args;
    int count = 0;
    LPWSTR* split = CommandLineToArgvW(command_line.c_str(), &count);
    for (int i = 0; split && i < count; ++i)
        args.emplace_back(split[i]);
    LocalFree(split);
    return args;
}

Args split_with_shell32(const std::string& command_line)
{
    Args args;
    for (const std::wstring& arg : split_with_shell32(acp(command_line)))
        args.push_back(to_acp(arg));
    return args;
}

} // namespace harness
