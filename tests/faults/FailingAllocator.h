#pragma once

#include <cstddef>

namespace skm::test {

// While armed, counts allocations and fails the one numbered `failAt` (1-based); 0 never fails.
void armAllocator(std::size_t failAt);
// Disarms and returns how many allocations were made while armed.
std::size_t disarmAllocator();
bool allocationFailed();

}  // namespace skm::test
