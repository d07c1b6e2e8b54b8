#include "ManagerOperation.h"

#include <atomic>

namespace kelvarin {

namespace {
std::atomic<int> operations{0};
} // namespace

ManagerOperation::ManagerOperation() noexcept {
  operations.fetch_add(1, std::memory_order_relaxed);
}

ManagerOperation::~ManagerOperation() {
  operations.fetch_sub(1, std::memory_order_relaxed);
}

bool ManagerOperation::Active() noexcept {
  return operations.load(std::memory_order_relaxed) > 0;
}

} // namespace kelvarin
