#pragma once

// Runs a range of seeds, each in a child process of this program (so one
// seed's crash or hang is its own), several at once, and prints the pass
// count and the time per seed. A failing seed's output stays in a file
// whose name is printed.

#include <cstdint>
#include <string>

class SeedBench {
public:
    SeedBench(std::string program, std::uint64_t first, std::uint64_t last, int jobs);

    // The number of seeds that failed.
    int Run();

private:
    std::string program_;
    std::uint64_t first_;
    std::uint64_t last_;
    int jobs_;
};
