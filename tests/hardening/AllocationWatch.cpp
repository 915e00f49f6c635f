#include "AllocationWatch.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<bool> watching{false};
std::atomic<std::size_t> largest{0};
std::atomic<std::size_t> total{0};

void Note(std::size_t bytes) {
    if (!watching.load(std::memory_order_relaxed)) {
        return;
    }
    total += bytes;
    std::size_t seen = largest.load();
    while (bytes > seen && !largest.compare_exchange_weak(seen, bytes)) {
    }
}

void* Allocate(std::size_t bytes) {
    Note(bytes);
    if (void* block = std::malloc(bytes == 0 ? 1 : bytes)) {
        return block;
    }
    throw std::bad_alloc();
}

}  // namespace

AllocationWatch::AllocationWatch() {
    largest = 0;
    total = 0;
    watching = true;
}

AllocationWatch::~AllocationWatch() {
    watching = false;
}

std::size_t AllocationWatch::Largest() const {
    return largest.load();
}

std::size_t AllocationWatch::Total() const {
    return total.load();
}

extern "C" {
void* __real_malloc(std::size_t bytes);
void* __real_calloc(std::size_t count, std::size_t size);
void* __real_realloc(void* block, std::size_t bytes);

void* __wrap_malloc(std::size_t bytes) {
    Note(bytes);
    return __real_malloc(bytes);
}

void* __wrap_calloc(std::size_t count, std::size_t size) {
    Note(count * size);
    return __real_calloc(count, size);
}

void* __wrap_realloc(void* block, std::size_t bytes) {
    Note(bytes);
    return __real_realloc(block, bytes);
}
}

void* operator new(std::size_t bytes) {
    return Allocate(bytes);
}
void* operator new[](std::size_t bytes) {
    return Allocate(bytes);
}
// Every form of new and delete is replaced, so that no block is taken by
// one allocator and given back to another.
void* operator new(std::size_t bytes, const std::nothrow_t&) noexcept {
    Note(bytes);
    return std::malloc(bytes == 0 ? 1 : bytes);
}
void* operator new[](std::size_t bytes, const std::nothrow_t&) noexcept {
    Note(bytes);
    return std::malloc(bytes == 0 ? 1 : bytes);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
    std::free(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
    std::free(block);
}
void operator delete(void* block) noexcept {
    std::free(block);
}
void operator delete[](void* block) noexcept {
    std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    std::free(block);
}
