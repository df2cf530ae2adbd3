// The convergence test program. Without options it runs its tests (the
// fixed seeds and the scenarios). "--seed N" runs that one seed as a test;
// "--seeds A-B [--jobs N]" runs every seed of the range, each in a child
// process, N at once, and prints the pass count and the time per seed.

#include "tests/convergence/SeedBench.h"
#include "tests/convergence/SeedTest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

const char* Option(int argc, char** argv, const char* name)
{
    for (int index = 1; index + 1 < argc; ++index) {
        if (std::strcmp(argv[index], name) == 0)
            return argv[index + 1];
    }
    return nullptr;
}

int RunRange(const char* range, const char* jobs)
{
    unsigned long long first = 0;
    unsigned long long last = 0;
    if (std::sscanf(range, "%llu-%llu", &first, &last) != 2 || last < first) {
        std::fprintf(stderr, "--seeds wants a range A-B\n");
        return 2;
    }
    const int workers = jobs ? std::atoi(jobs) : int(std::max(1u, std::thread::hardware_concurrency() / 2));
    SeedBench bench("/proc/self/exe", first, last, workers);
    return bench.Run() == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (const char* range = Option(argc, argv, "--seeds"))
        return RunRange(range, Option(argc, argv, "--jobs"));
    const char* seed = Option(argc, argv, "--seed");
    testing::InitGoogleTest(&argc, argv);
    if (seed) {
        RegisterSeedTest(std::strtoull(seed, nullptr, 10));
        testing::GTEST_FLAG(filter) = "ConvergenceSeed.*";
    }
    return RUN_ALL_TESTS();
}
