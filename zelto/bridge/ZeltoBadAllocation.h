// std::bad_alloc with the text "bad allocation" on every runtime, for the
// task-memory and driver-class failures that callers tell apart by it.
#pragma once

#include <new>

class ZeltoBadAllocation : public std::bad_alloc {
public:
  const char* what() const noexcept override { return "bad allocation"; }
};
