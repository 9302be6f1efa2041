// The value services on the inputs of one synchronisation, each next to the
// C or C++ library doing the same job: parsing the server's date-time,
// adding 8 hours, formatting the clock text and splitting the reply.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string_view>
#include <vector>

#include "sync/clock_text.h"
#include "sync/daytime.h"
#include "sync/platform.h"
#include "values/constants.h"
#include "values/datetime.h"
#include "values/memory.h"
#include "values/text.h"

namespace {

constexpr char kReply[] = "\n60289 23-12-11 14:05:09 00 0 0 563.9 UTC(NIST) * \n";
constexpr char kClockText[] = "2023-12-11-14:05:09";  // "20" + date + "-" + time

// --- parsing ------------------------------------------------------------------

void BM_ParseDateTime(benchmark::State& state) {
  for (auto _ : state) {
    const char* text = kClockText;
    benchmark::DoNotOptimize(text);
    benchmark::DoNotOptimize(ParseDateTime(text));
  }
}

void BM_StrptimeTimegm(benchmark::State& state) {
  for (auto _ : state) {
    std::tm tm{};
    const char* text = kClockText;
    benchmark::DoNotOptimize(text);
    benchmark::DoNotOptimize(strptime(text, "%Y-%m-%d-%H:%M:%S", &tm));
    benchmark::DoNotOptimize(timegm(&tm));
  }
}

// --- adding hours -------------------------------------------------------------

void BM_AddToDateTimeHours(benchmark::State& state) {
  DateTime value = ParseDateTime(kClockText);
  for (auto _ : state) {
    benchmark::DoNotOptimize(value);
    benchmark::DoNotOptimize(AddToDateTime(value, kPartHour, 8));
  }
}

void BM_TimegmAddHours(benchmark::State& state) {
  std::tm start{};
  strptime(kClockText, "%Y-%m-%d-%H:%M:%S", &start);
  for (auto _ : state) {
    std::tm tm = start;
    benchmark::DoNotOptimize(tm);
    const std::time_t t = timegm(&tm) + 8 * 3600;
    std::tm out;
    benchmark::DoNotOptimize(gmtime_r(&t, &out));
  }
}

// --- formatting ---------------------------------------------------------------

void BM_FormatClockText(benchmark::State& state) {
  DateTime value = AddToDateTime(ParseDateTime(kClockText), kPartHour, 8);
  for (auto _ : state) {
    benchmark::DoNotOptimize(value);
    char* text = FormatClockText(value);
    benchmark::DoNotOptimize(text);
    ReleaseBlock(text);
  }
}

void BM_GmtimeSnprintf(benchmark::State& state) {
  std::tm tm{};
  strptime(kClockText, "%Y-%m-%d-%H:%M:%S", &tm);
  std::time_t t = timegm(&tm) + 8 * 3600;
  for (auto _ : state) {
    benchmark::DoNotOptimize(t);
    std::tm f;
    gmtime_r(&t, &f);
    char text[64];
    std::snprintf(text, sizeof text, "%d-%02d-%02d %02d:%02d:%02d", f.tm_year + 1900, f.tm_mon + 1, f.tm_mday,
                  f.tm_hour, f.tm_min, f.tm_sec);
    benchmark::DoNotOptimize(text);
  }
}

// --- splitting ----------------------------------------------------------------

void BM_SplitText(benchmark::State& state) {
  for (auto _ : state) {
    const char* text = kReply;
    benchmark::DoNotOptimize(text);
    TextArray* fields = SplitText(text, kTextSpace);
    benchmark::DoNotOptimize(fields);
    ReleaseTextArray(fields);
  }
}

void BM_StringViewSplit(benchmark::State& state) {
  for (auto _ : state) {
    std::string_view text = kReply;
    benchmark::DoNotOptimize(text);
    std::vector<std::string_view> fields;
    for (size_t start = 0;;) {
      const size_t at = text.find(' ', start);
      if (at == std::string_view::npos) {
        if (start < text.size()) fields.push_back(text.substr(start));
        break;
      }
      fields.push_back(text.substr(start, at - start));
      start = at + 1;
    }
    benchmark::DoNotOptimize(fields.data());
  }
}

// --- one whole reply handling ----------------------------------------------------
// HandleDaytimeReply from the reply bytes to the status and edit texts, with
// the window layer reduced to stubs below and the clock setter accepting: the
// part of a synchronisation's latency that is the program's own work.

bool AcceptClock(const LocalTimeFields&) { return true; }

void BM_HandleDaytimeReply(benchmark::State& state) {
  SetLocalClockSetter(AcceptClock);
  struct {
    ByteBuffer head{1, static_cast<int32_t>(sizeof kReply - 1)};
    char data[sizeof kReply];
  } reply;
  std::memcpy(reply.data, kReply, sizeof kReply);
  for (auto _ : state) {
    HandleDaytimeReply(&reply.head);
  }
  SetLocalClockSetter(nullptr);
}

// --- the cost of one block ----------------------------------------------------
// What a prescribed allocation costs: every text the services return is one
// block, so these two set the floor under FormatClockText and SplitText.

void BM_BlockPair(benchmark::State& state) {
  for (auto _ : state) {
    void* block = AllocateBlock(16);
    benchmark::DoNotOptimize(block);
    ReleaseBlock(block);
  }
}

void BM_MallocFree(benchmark::State& state) {
  for (auto _ : state) {
    void* block = std::malloc(16);
    benchmark::DoNotOptimize(block);
    std::free(block);
  }
}

}  // namespace

BENCHMARK(BM_ParseDateTime);
BENCHMARK(BM_StrptimeTimegm);
BENCHMARK(BM_AddToDateTimeHours);
BENCHMARK(BM_TimegmAddHours);
BENCHMARK(BM_FormatClockText);
BENCHMARK(BM_GmtimeSnprintf);
BENCHMARK(BM_SplitText);
BENCHMARK(BM_StringViewSplit);
BENCHMARK(BM_HandleDaytimeReply);
BENCHMARK(BM_BlockPair);
BENCHMARK(BM_MallocFree);

// The window layer as HandleDaytimeReply meets it: writes that go nowhere.
int32_t SetStatusText(ControlRef, int32_t, const char* text) {
  benchmark::DoNotOptimize(text);
  return 1;
}
void SetControlText(ControlRef, const char* text) { benchmark::DoNotOptimize(text); }
ByteBuffer* GetReceivedData(ControlRef) { return nullptr; }
uint32_t GetEventConnection(ControlRef) { return 0; }
int32_t GetEventCloseError(ControlRef) { return 0; }

int main(int argc, char** argv) {
  RegisterProgramConstants();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
