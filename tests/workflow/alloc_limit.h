// Memory running out, on demand: while an AllocationLimit lives, every
// single allocation larger than its limit fails with std::bad_alloc, as the
// large ones do first when a 32-bit process runs short.
#pragma once

#include <cstddef>

namespace workflow_test {

class AllocationLimit {
 public:
  explicit AllocationLimit(size_t bytes);
  ~AllocationLimit();
  AllocationLimit(const AllocationLimit&) = delete;
  AllocationLimit& operator=(const AllocationLimit&) = delete;
};

}  // namespace workflow_test
