#include "trace.h"

#include "runtime.h"
#include "wtf8.h"

#include <string>

namespace {

void write_line(const std::string& line)
{
    std::wstring text = utf16_from_wtf8("tarvex: " + line + "\r\n");
    replace_unpaired_surrogates(text);
    HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(err, &mode)) {
        WriteConsoleW(err, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    const std::string utf8 = wtf8_from_utf16(text.data(), text.size());
    WriteFile(err, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

// The system's own words for an error, without the line break it ends them
// with.
std::string system_message(DWORD error)
{
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string message = length ? wtf8_from_utf16(text, length) : std::string();
    LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
        message.pop_back();
    const std::string code = "error " + std::to_string(error);
    return message.empty() ? code : message + " (" + code + ")";
}

std::string hex(unsigned value, int digits = 8)
{
    const char symbols[] = "0123456789ABCDEF";
    std::string text = "0x";
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
        text += symbols[(value >> shift) & 0xF];
    return text;
}

} // namespace

bool trace_wanted() { return !env_value("TARVEX_LAUNCHER_DEBUG").empty(); }

void trace_variable(bool on, const char* name, const std::string& value)
{
    if (on)
        write_line(std::string(name) + (value.empty() ? " is unset" : "=" + value));
}

void trace_module_walk(bool on, const std::string& module, const std::string& path)
{
    if (!on)
        return;
    if (module.empty())
        write_line("no loaded module's name holds \"tarvex\"");
    else
        write_line("module " + module + " matched, at " + path);
}

void trace_link(bool on, const std::string& target)
{
    if (!on)
        return;
    if (target.empty())
        write_line("its file is no link into another directory: the path is used as found");
    else
        write_line("its file is a symbolic link to " + target + ": the installation is the one it leads to");
}

void trace_no_bin_marker(bool on, bool module_matched)
{
    if (on && module_matched)
        write_line("its path holds no \\bin\\ in any case: no root from it");
}

void trace_root(bool on, const std::string& root, const char* source)
{
    if (on)
        write_line("installation root " + root + ", from " + source);
}

void trace_directories(bool on, const std::string& bin_dir, const std::string& archlib_dir)
{
    if (!on)
        return;
    write_line("bin directory " + bin_dir);
    write_line("architecture-specific directory " + archlib_dir);
}

void trace_options(bool on, const std::string& recognised)
{
    if (on)
        write_line("options recognised:" + (recognised.empty() ? std::string(" none") : recognised));
}

void trace_probe_skipped(bool on)
{
    if (on)
        write_line("display not probed: --no-gui-libs");
}

void trace_probe(bool on, bool reachable, DWORD error)
{
    if (!on)
        return;
    if (reachable)
        write_line("display probed: a display was found");
    else if (error == ERROR_REQUIRES_INTERACTIVE_WINDOWSTATION)
        write_line("display probed: none, the window station is not visible, so nobody could see a window");
    else if (error != ERROR_SUCCESS)
        write_line("display probed: none, the user-interface library could not be loaded: " +
                   system_message(error));
    else
        write_line("display probed: none, no device context for the screen");
}

void trace_executable(bool on, const std::string& path)
{
    if (!on)
        return;
    const bool present = GetFileAttributesW(utf16_from_wtf8(path).c_str()) != INVALID_FILE_ATTRIBUTES;
    const DWORD error = GetLastError();
    write_line("executable " + path + (present ? ", a file lies there" : ", no file there: " + system_message(error)));
}

void trace_unvouched_directory(bool on, const std::string& prefix)
{
    if (on)
        write_line("not started: its directory comes from the build prefix " + prefix +
                   ", which names no drive or share, so any user may have created it");
}

void trace_command_line(bool on, const std::vector<std::wstring>& args)
{
    if (!on)
        return;
    // Joined as the runtime's spawn joins them.
    std::wstring line;
    for (std::size_t i = 0; i < args.size(); ++i)
        line += (i ? L" " : L"") + args[i];
    write_line("command line " + wtf8_from_utf16(line.data(), line.size()));
}

void trace_command_line_too_long(bool on, std::size_t length, std::size_t limit)
{
    if (on)
        write_line("not started: the command line is " + std::to_string(length) +
                   " UTF-16 units long, the limit is " + std::to_string(limit));
}

void trace_start_failed(bool on, const std::string& path, std::size_t length, DWORD error)
{
    if (!on)
        return;
    const std::size_t limit = MAX_PATH - 1;
    std::string line = "could not start " + path + ": " + system_message(error);
    if (length > limit)
        line += "; its path is " + std::to_string(length) + " characters long, over the limit of " +
                std::to_string(limit) + " for a program that is not long-path aware";
    write_line(line);
}

void trace_job(bool on, DWORD error)
{
    if (!on)
        return;
    if (error == ERROR_SUCCESS)
        write_line("child put in its job: it ends with the launcher");
    else
        write_line("child not in a job, so it does not end with a killed launcher: " + system_message(error));
}

void trace_shutdown_level(bool on, DWORD error)
{
    if (!on)
        return;
    DWORD level = 0;
    DWORD flags = 0;
    GetProcessShutdownParameters(&level, &flags);
    std::string line = "shutdown level " + hex(level, 3);
    if (error != ERROR_SUCCESS)
        line += ", not lowered: " + system_message(error);
    line += level < 0x280 ? ": at logoff the application is asked before the launcher ends"
                          : ": at logoff the launcher may end before the application is asked";
    write_line(line);
}

void trace_aside(bool on, const std::string& released, const std::string& left_alone)
{
    if (on)
        write_line("stood aside: released " + (released.empty() ? std::string("nothing") : released) +
                   "; left alone " + (left_alone.empty() ? std::string("nothing") : left_alone));
}

void trace_status(bool on, int status)
{
    if (on)
        write_line("exit status " + std::to_string(status) + " (" + hex(static_cast<unsigned>(status)) + ")");
}
