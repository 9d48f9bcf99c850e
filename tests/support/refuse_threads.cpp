// refuse_threads.cpp - a preloaded library that lets a process start only $QIVPAK_TEST_THREADS_ALLOWED threads
//
// Stands in for a process limit (a pids cgroup): every pthread_create past the
// allowance fails with EAGAIN, and the first refusal says so on stderr, so a
// test can tell that the library was in effect.
#include <dlfcn.h>
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*start)(void*), void* arg) {
    static int allowed = [] {
        const char* text = std::getenv("QIVPAK_TEST_THREADS_ALLOWED");
        return text != nullptr ? std::atoi(text) : 0;
    }();
    static bool told = false;
    if (allowed <= 0) {
        if (!told) {
            told = true;
            static const char line[] = "thread refused\n";
            (void)!write(2, line, sizeof line - 1);
        }
        return EAGAIN;
    }
    --allowed;
    using Create = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
    static const auto real = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "pthread_create"));
    return real(thread, attr, start, arg);
}
