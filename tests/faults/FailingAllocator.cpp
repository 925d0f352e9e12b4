#include "tests/faults/FailingAllocator.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <new>

extern "C" {
void* __real_malloc(std::size_t size);
void* __real_calloc(std::size_t count, std::size_t size);
void* __real_realloc(void* pointer, std::size_t size);
}

namespace skm::test {
namespace {

std::atomic<bool> armed{false};
std::atomic<std::size_t> counter{0};
std::atomic<std::size_t> target{0};
std::atomic<bool> failed{false};

// True when this allocation is the one to fail.
bool shouldFail() {
  if (!armed.load(std::memory_order_relaxed)) return false;
  std::size_t n = counter.fetch_add(1) + 1;
  if (n != target.load()) return false;
  failed = true;
  // SKM_FAULT_TRAP=N stops a debugger at the moment allocation N is refused.
  static const char* trap = std::getenv("SKM_FAULT_TRAP");
  if (trap != nullptr && std::strtoul(trap, nullptr, 10) == n) std::raise(SIGTRAP);
  return true;
}

}  // namespace

void armAllocator(std::size_t failAt) {
  counter = 0;
  target = failAt;
  failed = false;
  armed = true;
}

std::size_t disarmAllocator() {
  armed = false;
  return counter.load();
}

bool allocationFailed() {
  return failed.load();
}

}  // namespace skm::test

extern "C" {
void* __wrap_malloc(std::size_t size) {
  return skm::test::shouldFail() ? nullptr : __real_malloc(size);
}
void* __wrap_calloc(std::size_t count, std::size_t size) {
  return skm::test::shouldFail() ? nullptr : __real_calloc(count, size);
}
void* __wrap_realloc(void* pointer, std::size_t size) {
  return skm::test::shouldFail() ? nullptr : __real_realloc(pointer, size);
}
}

void* operator new(std::size_t size) {
  if (skm::test::shouldFail()) throw std::bad_alloc();
  void* p = __real_malloc(size == 0 ? 1 : size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
void* operator new[](std::size_t size) {
  return operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  if (skm::test::shouldFail()) return nullptr;
  return __real_malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
  return operator new(size, tag);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
