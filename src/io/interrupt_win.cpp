// interrupt_win.cpp - a console control handler records Ctrl-C, Ctrl-Break and closing as SIGINT
#include "io/interrupt.hpp"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <windows.h>

namespace qivpak {

namespace {

// The first interruption, as a signal number; the handler only records it.
std::atomic<int> pending_signal{0};

// How long the handler holds a console that is being closed (or a session
// that ends): the system ends the process as soon as the handler returns,
// and in any case about 5 seconds after a close. Meanwhile the main flow
// notices the interruption at its next frame, removes the partial output and
// ends the process itself through end_by_interrupt(), which cuts this wait
// short; a run that is not at a frame (waiting for a key, say) simply ends
// when the wait is over.
constexpr DWORD kCloseGraceMs = 4000;

BOOL WINAPI record_control_event(DWORD event) {
    int none = 0;
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        pending_signal.compare_exchange_strong(none, SIGINT);
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        pending_signal.compare_exchange_strong(none, SIGINT);
        ::Sleep(kCloseGraceMs);
        return TRUE;
    default:
        return FALSE;
    }
}

}  // namespace

void install_interrupt_handlers() { ::SetConsoleCtrlHandler(record_control_event, TRUE); }

int pending_interrupt() { return pending_signal.load(); }

// Every interruption ends the process as an unhandled Ctrl-C would. exit()
// rather than ExitProcess(), so that the console gets its code page back.
void end_by_interrupt(int /*signal*/) { std::exit(static_cast<int>(STATUS_CONTROL_C_EXIT)); }

}  // namespace qivpak
