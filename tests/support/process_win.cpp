// process_win.cpp - run_process with CreateProcessW: stdout and stderr through pipes, Ctrl-C through a console
#include "support/process.hpp"

#include "io/utf16_win.hpp"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cwchar>
#include <memory>
#include <thread>
#include <windows.h>

namespace qivtest {

namespace {

using qivpak::utf8_to_utf16;

struct HandleCloser {
    void operator()(HANDLE h) const { ::CloseHandle(h); }
};
using Handle = std::unique_ptr<void, HandleCloser>;  // an owned handle

// One argument quoted so that the C runtime and CommandLineToArgvW read it back unchanged.
std::wstring quote(const std::string& arg) {
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;  // in a row just before the current character
    for (const wchar_t c : utf8_to_utf16(arg)) {
        if (c == L'"') quoted.append(backslashes + 1, L'\\');  // those doubled, and the quote escaped
        backslashes = c == L'\\' ? backslashes + 1 : 0;
        quoted += c;
    }
    return quoted.append(backslashes, L'\\') + L'"';  // doubled before the closing quote
}

// The environment block of the child: the parent's variables with options.env, and the cache folder's
// emptied (without_user_cache), set over them.
std::wstring environment_block(const ProcessOptions& options) {
    const std::vector<std::pair<std::string, std::string>> env = without_user_cache(options.env);
    std::wstring block;
    wchar_t* parent = ::GetEnvironmentStringsW();
    for (const wchar_t* v = parent; v != nullptr && *v != L'\0'; v += std::wcslen(v) + 1) {
        const bool set_here = std::any_of(env.begin(), env.end(), [v](const auto& e) {
            const std::wstring name = utf8_to_utf16(e.first + "=");  // without case; "=C:=C:\..." never matches
            return _wcsnicmp(v, name.c_str(), name.size()) == 0;
        });
        if (!set_here) block.append(v, std::wcslen(v) + 1);
    }
    ::FreeEnvironmentStringsW(parent);
    for (const auto& [name, value] : env) block += utf8_to_utf16(name + "=" + value) + L'\0';
    return block + L'\0';
}

}  // namespace

ProcessResult run_process(const std::vector<std::string>& argv, const ProcessOptions& opt) {
    if (argv.empty()) return {};
    std::wstring command_line, environment = environment_block(opt);
    for (const auto& a : argv) command_line += (command_line.empty() ? L"" : L" ") + quote(a);

    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE ends[4] = {};  // the read and write ends of the pipe for stdout, then of the one for stderr
    const bool piped =
        ::CreatePipe(&ends[0], &ends[1], &inheritable, 0) && ::CreatePipe(&ends[2], &ends[3], &inheritable, 0);
    HANDLE in = ::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, OPEN_EXISTING, 0,
                              nullptr);
    const Handle null_in(in != INVALID_HANDLE_VALUE ? in : nullptr), out_read(ends[0]), err_read(ends[2]);
    Handle out_write(ends[1]), err_write(ends[3]);
    if (!piped || !null_in) return {};
    ::SetHandleInformation(ends[0], HANDLE_FLAG_INHERIT, 0);
    ::SetHandleInformation(ends[2], HANDLE_FLAG_INHERIT, 0);

    // The child gets a console of its own without a window, for the Ctrl-C: its standard handles are the pipes
    // (a window would also start a desktop process under wine, which outlives the test holding its output open).
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = null_in.get(), startup.hStdOutput = ends[1], startup.hStdError = ends[3];
    const std::wstring application = utf8_to_utf16(argv[0]), cwd = utf8_to_utf16(opt.cwd);
    PROCESS_INFORMATION info{};
    // Under load, wine now and then fails to start a process that starts the next time.
    bool started = false;
    DWORD error = 0;
    for (int attempt = 1;; ++attempt) {
        started = ::CreateProcessW(application.c_str(), command_line.data(), nullptr, nullptr, TRUE,
                                   CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT, environment.data(),
                                   cwd.empty() ? nullptr : cwd.c_str(), &startup, &info) != 0;
        error = started ? 0 : ::GetLastError();
        if (started || attempt == 5 || error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) break;
        std::fprintf(stderr, "run_process: CreateProcessW failed with error %lu; trying again\n", error);
        ::Sleep(200);
    }
    out_write.reset();
    err_write.reset();
    if (!started) return {"", "CreateProcessW failed with error " + std::to_string(error) + "\n", 127};
    const Handle process(info.hProcess), thread(info.hThread);

    // Each pipe is read to its end by a thread of its own. Once stdout holds opt.interrupt_when, Ctrl-C goes to
    // every process of the child's console: this process joins it until the child has ended, ignoring Ctrl-C.
    std::string raw_out, raw_err;
    std::atomic<bool> interrupting = false;
    const auto drain = [&](HANDLE pipe, std::string& sink) {
        char buf[65536];
        for (DWORD got = 0; ::ReadFile(pipe, buf, sizeof buf, &got, nullptr) && got > 0;) {
            sink.append(buf, got);
            const std::string& when = opt.interrupt_when;
            if (&sink != &raw_out || interrupting || when.empty() || text_mode(raw_out).find(when) == std::string::npos)
                continue;
            interrupting = true;
            ::FreeConsole();
            if (::AttachConsole(info.dwProcessId) && ::SetConsoleCtrlHandler(nullptr, TRUE))
                ::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
        }
    };
    std::thread out_reader(drain, ends[0], std::ref(raw_out)), err_reader(drain, ends[2], std::ref(raw_err));
    if (::WaitForSingleObject(process.get(), static_cast<DWORD>(opt.timeout_s) * 1000) == WAIT_TIMEOUT)
        ::TerminateProcess(process.get(), 1009);  // killed, as 1000 + SIGKILL reads on POSIX
    ::WaitForSingleObject(process.get(), INFINITE);
    // Leave the child's console before the pipes can end (its host holds them open while anyone is attached),
    // take Ctrl-C again, and go back to the parent's console if it has one.
    if (interrupting) {
        ::FreeConsole();
        ::SetConsoleCtrlHandler(nullptr, FALSE);
        ::AttachConsole(ATTACH_PARENT_PROCESS);
    }
    out_reader.join();
    err_reader.join();
    DWORD code = 0;
    const int status = ::GetExitCodeProcess(process.get(), &code) ? static_cast<int>(code) : -1;
    return {text_mode(raw_out), text_mode(raw_err), status};
}

}  // namespace qivtest
