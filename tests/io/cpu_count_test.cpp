// cpu_count_test.cpp - the CPUs a run counts are those the process may run on, not the machine's
#include "io/cpu_count.hpp"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sched.h>
#endif

namespace {

#ifndef _WIN32
TEST(CpuCount, IsTheProcessAffinityNotTheMachine) {
    cpu_set_t before;
    ASSERT_EQ(sched_getaffinity(0, sizeof before, &before), 0);
    int first = 0;
    while (!CPU_ISSET(first, &before)) ++first;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(first, &one);
    ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
    const unsigned counted = qivpak::available_cpus();
    sched_setaffinity(0, sizeof before, &before);
    EXPECT_EQ(counted, 1u);
    EXPECT_EQ(qivpak::available_cpus(), static_cast<unsigned>(CPU_COUNT(&before)));
}
#endif

}  // namespace
