#pragma once

#include <cstdint>

// Registers a test "ConvergenceSeed.Seed<N>" that runs the seed.
void RegisterSeedTest(std::uint64_t seed);
