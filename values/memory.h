// Memory blocks of the process heap: every text, byte buffer and text array
// that an operation returns is one such block, owned by the caller.
//
// Any thread may allocate and release; the heap serialises them, so a block
// allocated on a worker thread may be released on the user-interface thread.
// The list of constant ranges is written once at start-up, before a second
// thread exists, and only read afterwards.
#pragma once

#include <cstddef>
#include <cstdint>

// A block of exactly `size` bytes, contents undefined. Never returns null:
// when the heap refuses, the program ends with the allocation-failure box.
void* AllocateBlock(uint32_t size);

// Gives a block back to the heap. Null and references into a registered
// constant range are ignored.
void ReleaseBlock(const void* block);

// Adds [start, end) to the ranges that ReleaseBlock leaves alone.
void RegisterConstantRange(const void* start, const void* end);

// Counts of blocks handed out and given back since the process started.
// Cheap enough to keep in the shipped program; tests and benchmarks read
// them to prove the allocation counts of the text operations.
struct BlockCounts {
  uint32_t allocated;
  uint32_t released;
};
BlockCounts GetBlockCounts();

// Replaces the heap request of AllocateBlock (OsHeapAlloc by default; null
// restores it). Only tests call it, to make the heap refuse a request of a
// plausible size; set it before any other thread allocates.
using BlockSource = void* (*)(uint32_t size);
void SetBlockSource(BlockSource source);
