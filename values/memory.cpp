#include "values/memory.h"

#include "values/text.h"

#include <atomic>

#include "values/error.h"
#include "values/os.h"

namespace {

std::atomic<uint32_t> g_allocated{0};
std::atomic<uint32_t> g_released{0};
std::atomic<BlockSource> g_source{nullptr};

// The program registers one range; a few more slots leave room for tests.
// Written at start-up before a second thread exists, read afterwards: the
// release store of the count publishes the slot written before it.
constexpr int kMaxConstantRanges = 8;
struct ConstantRange {
  const unsigned char* start;
  const unsigned char* end;
};
ConstantRange g_ranges[kMaxConstantRanges];
std::atomic<int> g_range_count{0};

bool InConstantRange(const void* block) {
  const auto* p = static_cast<const unsigned char*>(block);
  const int count = g_range_count.load(std::memory_order_acquire);
  for (int i = 0; i < count; ++i) {
    if (p >= g_ranges[i].start && p < g_ranges[i].end) return true;
  }
  return false;
}

// "分配 " and " 字节内存失败!": the message is composed on the stack,
// because the heap has just refused.
constexpr char kAllocFailHead[] = "\xB7\xD6\xC5\xE4 ";
constexpr char kAllocFailTail[] = " \xD7\xD6\xBD\xDA\xC4\xDA\xB4\xE6\xCA\xA7\xB0\xDC!";

[[noreturn]] void ReportAllocationFailure(uint32_t size) {
  char message[sizeof kAllocFailHead + 11 + sizeof kAllocFailTail];
  char* out = message;
  for (const char* s = kAllocFailHead; *s; ++s) *out++ = *s;
  // The size as "%d" prints it: a request above 2^31 - 1 shows negative.
  out += FormatDecimal(static_cast<int32_t>(size), out);
  for (const char* s = kAllocFailTail; *s; ++s) *out++ = *s;
  *out = '\0';
  ReportFatalError(message, 0);
}

}  // namespace

void* AllocateBlock(uint32_t size) {
  BlockSource source = g_source.load(std::memory_order_relaxed);
  void* block = source != nullptr ? source(size) : OsHeapAlloc(size);
  if (block == nullptr) ReportAllocationFailure(size);
  g_allocated.fetch_add(1, std::memory_order_relaxed);
  return block;
}

void ReleaseBlock(const void* block) {
  if (block == nullptr || InConstantRange(block)) return;
  g_released.fetch_add(1, std::memory_order_relaxed);
  OsHeapFree(const_cast<void*>(block));
}

void RegisterConstantRange(const void* start, const void* end) {
  const auto* s = static_cast<const unsigned char*>(start);
  const auto* e = static_cast<const unsigned char*>(end);
  const int count = g_range_count.load(std::memory_order_relaxed);
  for (int i = 0; i < count; ++i) {
    if (g_ranges[i].start == s && g_ranges[i].end == e) return;
  }
  // "常量区表已满": a range left out would later go back to the heap, so
  // running out of slots is a fault of the program, not something to skip.
  if (count == kMaxConstantRanges) ReportFatalError("\xB3\xA3\xC1\xBF\xC7\xF8\xB1\xED\xD2\xD1\xC2\xFA", 0);
  g_ranges[count] = {s, e};
  g_range_count.store(count + 1, std::memory_order_release);
}

BlockCounts GetBlockCounts() {
  return {g_allocated.load(std::memory_order_relaxed), g_released.load(std::memory_order_relaxed)};
}

void SetBlockSource(BlockSource source) { g_source.store(source, std::memory_order_relaxed); }
