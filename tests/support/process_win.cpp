// process_win.cpp - run_process with CreateProcessW, stdout and stderr through pipes, Ctrl-C through the child's console
#include "support/process.hpp"

#include "io/utf16_win.hpp"

#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>
#include <windows.h>

namespace qivtest {

namespace {

using qivpak::utf8_to_utf16;

// One argument written so that the C runtime and CommandLineToArgvW read it back unchanged.
std::wstring quote_argument(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
    std::wstring quoted = L"\"";
    for (auto it = arg.begin();; ++it) {
        std::size_t backslashes = 0;
        for (; it != arg.end() && *it == L'\\'; ++it) ++backslashes;
        if (it == arg.end()) {
            quoted.append(2 * backslashes, L'\\');
            break;
        }
        if (*it == L'"') {
            quoted.append(2 * backslashes + 1, L'\\');
        } else {
            quoted.append(backslashes, L'\\');
        }
        quoted.push_back(*it);
    }
    quoted.push_back(L'"');
    return quoted;
}

// The environment block of the child: the parent's variables with opt.env set over them.
std::wstring environment_block(const ProcessOptions& opt) {
    std::vector<std::wstring> vars;
    if (wchar_t* block = ::GetEnvironmentStringsW()) {
        for (const wchar_t* v = block; *v != L'\0'; v += std::wcslen(v) + 1) vars.emplace_back(v);
        ::FreeEnvironmentStringsW(block);
    }
    for (const auto& [name, value] : opt.env) {
        const std::wstring wide_name = utf8_to_utf16(name);
        std::erase_if(vars, [&](const std::wstring& v) {
            const std::size_t eq = v.find(L'=', 1);  // "=C:=C:\..." names start with "="
            return ::CompareStringOrdinal(v.c_str(), static_cast<int>(eq == std::wstring::npos ? v.size() : eq),
                                          wide_name.c_str(), static_cast<int>(wide_name.size()), TRUE) == CSTR_EQUAL;
        });
        vars.push_back(wide_name + L"=" + utf8_to_utf16(value));
    }
    std::wstring block;
    for (const auto& v : vars) block += v + L'\0';
    return block + L'\0';
}

// Text as a text-mode reader sees it; a bare "\n" is made visible.
std::string text_mode(const std::string& raw) {
    std::string text;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
        if (raw[i] == '\n' && (i == 0 || raw[i - 1] != '\r'))
            text += BARE_NEWLINE;
        else
            text += raw[i];
    }
    return text;
}

// An owned handle.
struct Handle {
    HANDLE h = nullptr;
    Handle() = default;
    explicit Handle(HANDLE handle) : h(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { reset(); }
    void reset() {
        if (h != nullptr) ::CloseHandle(h);
        h = nullptr;
    }
};

// Reads a pipe to its end into `sink`, under `lock`.
void drain(HANDLE pipe, std::string& sink, std::mutex& lock) {
    char buf[65536];
    DWORD got = 0;
    while (::ReadFile(pipe, buf, sizeof buf, &got, nullptr) && got > 0) {
        const std::lock_guard<std::mutex> guard(lock);
        sink.append(buf, got);
    }
}

// Sends Ctrl-C to every process of the console of `pid`: this process joins
// that console for the moment, ignoring Ctrl-C itself until restore().
class CtrlC {
public:
    bool send(DWORD pid) {
        ::FreeConsole();
        if (!::AttachConsole(pid)) return false;
        ::SetConsoleCtrlHandler(nullptr, TRUE);
        ignoring_ = true;
        return ::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0) != 0;
    }
    // Once the child has ended: leave its console, take Ctrl-C again and go
    // back to the console of the parent, if it has one.
    void restore() {
        if (!ignoring_) return;
        ignoring_ = false;
        ::FreeConsole();
        ::SetConsoleCtrlHandler(nullptr, FALSE);
        ::AttachConsole(ATTACH_PARENT_PROCESS);
    }
    ~CtrlC() { restore(); }

private:
    bool ignoring_ = false;
};

}  // namespace


ProcessResult run_process(const std::vector<std::string>& argv, const ProcessOptions& opt) {
    ProcessResult result;
    if (argv.empty()) return result;
    std::wstring command_line;
    for (const auto& a : argv) command_line += (command_line.empty() ? L"" : L" ") + quote_argument(utf8_to_utf16(a));

    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    Handle null_in(::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, OPEN_EXISTING,
                                 0, nullptr));
    Handle out_read, out_write, err_read, err_write;
    if (null_in.h == nullptr || !::CreatePipe(&out_read.h, &out_write.h, &inheritable, 0) ||
        !::CreatePipe(&err_read.h, &err_write.h, &inheritable, 0))
        return result;
    ::SetHandleInformation(out_read.h, HANDLE_FLAG_INHERIT, 0);
    ::SetHandleInformation(err_read.h, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = null_in.h;
    startup.hStdOutput = out_write.h;
    startup.hStdError = err_write.h;
    // The child gets a console of its own without a window: its standard
    // handles are the pipes, and the console carries the Ctrl-C (a console
    // with a window would also start a desktop process under wine, which
    // outlives the test holding its output open).
    const DWORD console = CREATE_NO_WINDOW;
    std::wstring environment = environment_block(opt);
    const std::wstring application = utf8_to_utf16(argv[0]);
    const std::wstring cwd = utf8_to_utf16(opt.cwd);
    PROCESS_INFORMATION info{};
    // Under load, wine now and then fails to start a process that starts the
    // next time; a program that is not there fails every time.
    bool started = false;
    DWORD start_error = 0;
    for (int attempt = 0; attempt < 5 && !started; ++attempt) {
        if (attempt > 0) {
            std::fprintf(stderr, "run_process: CreateProcessW failed with error %lu; trying again\n", start_error);
            ::Sleep(200);
        }
        started = ::CreateProcessW(application.c_str(), command_line.data(), nullptr, nullptr, TRUE,
                                   console | CREATE_UNICODE_ENVIRONMENT, environment.data(),
                                   cwd.empty() ? nullptr : cwd.c_str(), &startup, &info) != 0;
        start_error = started ? 0 : ::GetLastError();
        if (start_error == ERROR_FILE_NOT_FOUND || start_error == ERROR_PATH_NOT_FOUND) break;
    }
    out_write.reset();
    err_write.reset();
    if (!started) {
        result.status = 127;
        result.err = "CreateProcessW failed with error " + std::to_string(start_error) + "\n";
        return result;
    }
    Handle process(info.hProcess);
    Handle thread(info.hThread);

    std::mutex lock;
    std::string raw_out, raw_err;
    std::thread out_reader(drain, out_read.h, std::ref(raw_out), std::ref(lock));
    std::thread err_reader(drain, err_read.h, std::ref(raw_err), std::ref(lock));

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(opt.timeout_s);
    CtrlC ctrl_c;
    bool interrupted = opt.interrupt_when.empty();
    while (::WaitForSingleObject(process.h, 10) == WAIT_TIMEOUT) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::TerminateProcess(process.h, 1009);  // killed, as 1000 + SIGKILL reads on POSIX
            ::WaitForSingleObject(process.h, INFINITE);
            break;
        }
        if (!interrupted) {
            const std::lock_guard<std::mutex> guard(lock);
            if (text_mode(raw_out).find(opt.interrupt_when) != std::string::npos) {
                ctrl_c.send(info.dwProcessId);
                interrupted = true;
            }
        }
    }
    ctrl_c.restore();
    out_reader.join();
    err_reader.join();
    DWORD code = 0;
    if (::GetExitCodeProcess(process.h, &code)) result.status = static_cast<int>(code);
    result.out = text_mode(raw_out);
    result.err = text_mode(raw_err);
    return result;
}

}  // namespace qivtest
