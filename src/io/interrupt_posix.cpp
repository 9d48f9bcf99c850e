// interrupt_posix.cpp - recording SIGINT, SIGTERM and SIGHUP, and dying by them at the end
#include "io/interrupt.hpp"

#include <csignal>
#include <cstdlib>
#include <initializer_list>

namespace qivpak {

namespace {

// The first interrupting signal; the handler does nothing else.
volatile std::sig_atomic_t pending_signal = 0;

extern "C" void record_signal(int signal) {
    if (pending_signal == 0) pending_signal = signal;
}

}  // namespace

void install_interrupt_handlers() {
    struct sigaction action{};
    action.sa_handler = record_signal;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

int pending_interrupt() { return pending_signal; }

void end_by_interrupt(int signal) {
    struct sigaction action{};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    std::raise(signal);
    std::_Exit(128 + signal);
}

}  // namespace qivpak
