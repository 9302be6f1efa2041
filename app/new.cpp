// Global operator new and delete on the process heap, so that the executable
// does not pull in the C++ library's throwing operator new and its exception
// machinery. Nothing here throws: a refused allocation ends the program with
// the allocation-failure box, as every block allocation does. Any thread.
//
// Objects are not counted as program blocks (GetBlockCounts): the counts
// prove the texts' allocations, and an object's new would blur them.
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <new>

#include "values/memory.h"

namespace {

void* Allocate(std::size_t size) {
  if (size == 0) size = 1;  // a zero-sized object still needs its own address
  if (void* p = HeapAlloc(GetProcessHeap(), 0, size)) return p;
  // Refused: AllocateBlock asks the same heap once more and, refused again,
  // reports the failure with its size and ends the program.
  return AllocateBlock(size > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(size));
}

void Release(void* block) {
  if (block) HeapFree(GetProcessHeap(), 0, block);
}

}  // namespace

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }

void operator delete(void* block) noexcept { Release(block); }
void operator delete[](void* block) noexcept { Release(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { Release(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { Release(block); }
void operator delete(void* block, std::size_t) noexcept { Release(block); }
void operator delete[](void* block, std::size_t) noexcept { Release(block); }
