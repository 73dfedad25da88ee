// The workflow tests' own global allocation functions, which honour an
// AllocationLimit.
#include "tests/workflow/alloc_limit.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace workflow_test {
namespace {
std::atomic<size_t> g_limit{0};  // 0: none
}  // namespace

AllocationLimit::AllocationLimit(size_t bytes) { g_limit.store(bytes); }
AllocationLimit::~AllocationLimit() { g_limit.store(0); }

}  // namespace workflow_test

void* operator new(std::size_t n) {
  size_t limit = workflow_test::g_limit.load(std::memory_order_relaxed);
  if (limit != 0 && n > limit) throw std::bad_alloc();
  void* p = std::malloc(n != 0 ? n : 1);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
void* operator new[](std::size_t n) { return operator new(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  try {
    return operator new(n);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](std::size_t n, const std::nothrow_t& tag) noexcept { return operator new(n, tag); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
