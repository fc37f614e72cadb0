// Reads and writes allocate nothing on the heap: every request, frame, reply
// and text lives in fixed buffers on the stack of the call.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "access/value_codec.h"
#include "support/access_bench.h"

namespace {

thread_local bool counting = false;
thread_local unsigned long allocations = 0;

void* AllocateOrNull(std::size_t size) noexcept {
  if (counting) ++allocations;
  return std::malloc(size == 0 ? 1 : size);
}

void* Allocate(std::size_t size) {
  void* memory = AllocateOrNull(size);
  if (memory == nullptr) throw std::bad_alloc();
  return memory;
}

}  // namespace

// Every form of new and delete that the program may use is replaced, so that
// no block is taken from one allocator and handed back to another.
void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return AllocateOrNull(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return AllocateOrNull(size); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }

namespace toldex {
namespace {

using testing::AccessBench;
using testing::MakeGate;

// Runs the call with counting on for this thread and returns how many
// allocations it made.
template <typename Call>
unsigned long AllocationsOf(Call call) {
  allocations = 0;
  counting = true;
  call();
  counting = false;
  return allocations;
}

TEST(AccessAllocation, ReadsAndWritesOfEveryKindAllocateNothing) {
  AccessBench bench(100);
  bench.AddStation(1);
  bench.AddStation(2);
  bench.AddStation(3);
  bench.Pair(3, 2, 0.0);
  bench.Stop(2);
  uint8_t host[256] = {};

  struct Case {
    int32_t op;
    int32_t plcNumber;
    int32_t memoryType;
    int32_t bitNumber;
    int32_t bitWidth;
    int32_t count;
  };
  const Case cases[] = {
      {kOpSingleRead, 1, 0, -1, 1, 1},       {kOpSingleRead, 1, 4, 3, 16, 1},
      {kOpSingleRead, 1, 8, -1, 32, 1},      {kOpBlockRead, 1, 4, -1, 16, 125},
      {kOpBlockRead, 1, 0, -1, 1, 2000},     {kOpSingleRead, 100003, 0, 255, 16, 1},
      {kOpSingleRead, 1001, 1000, -1, 0, 1}, {kOpSingleRead, 200001, 4, -1, 16, 1},
      {kOpSingleWrite, 1, 4, -1, 16, 1},     {kOpSingleWrite, 1, 4, 5, 16, 1},
      {kOpSingleWrite, 1, 516, -1, 16, 1},   {kOpSingleWrite, 1, 7, -1, 32, 1},
      {kOpBlockWrite, 1, 4, -1, 16, 123},    {kOpBlockWrite, 1, 0, -1, 1, 1968},
      {kOpSingleWrite, 1003, 1003, -1, 0, 1}, {kOpSingleRead, 65, 4, -1, 16, 1},
      {kOpBlockRead, 3, 4, -1, 16, 2},       {kOpSingleWrite, 3, 4, 1, 16, 1},  // station 2 is gone
      {kOpBlockWrite, 2, 4, -1, 16, 4},      {kOpSingleRead, 200002, 4, -1, 16, 1},
  };
  for (const Case& c : cases) {
    GateIo gate = MakeGate(c.plcNumber, c.memoryType, 0, c.bitNumber, c.bitWidth, c.count, host);
    const unsigned long made = AllocationsOf([&] { bench.Call(c.op, gate); });
    EXPECT_EQ(made, 0u) << "op " << c.op << " plc " << c.plcNumber << " type " << c.memoryType;
  }
  // The counting itself works.
  EXPECT_EQ(AllocationsOf([] { delete new int(5); }), 1u);
}

}  // namespace
}  // namespace toldex
