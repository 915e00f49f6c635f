// Counts the memory the code under test asks for. The test binary replaces
// the global operator new and, through the linker's --wrap, every malloc,
// calloc and realloc of the objects linked into it (the codec core
// included), and notes the largest single request while a watch is open.
#pragma once

#include <cstddef>

class AllocationWatch {
  public:
    AllocationWatch();
    ~AllocationWatch();
    AllocationWatch(const AllocationWatch&) = delete;
    AllocationWatch& operator=(const AllocationWatch&) = delete;

    std::size_t Largest() const;
    std::size_t Total() const;
};
