// perf_probe: times window programs from outside, the way a user meets them.
//
//   perf_probe startup OUTFILE ROUNDS EXE CAPTION [EXE CAPTION]...
//     Starts each program in turn (CreateProcess), ROUNDS times, and times
//     from the call to the moment its top-level window with CAPTION exists
//     and is visible (FindWindow + IsWindowVisible, polled every
//     millisecond); then closes it (WM_CLOSE) and waits for it to end.
//
//   perf_probe latency OUTFILE COUNT EXE ADDRESS
//     Plays the Daytime server on ADDRESS port 13 (the program's host name
//     must resolve to it), starts EXE, answers its start-up synchronisation,
//     then COUNT times: clicks 重新校时 (BM_CLICK to child 140), accepts the
//     connection, sends a reply whose time plus 8 hours is now, closes, and
//     polls part 0 of the status bar (WM_GETTEXT) until it shows the result.
//
// Results go to OUTFILE as "key value" lines (times in milliseconds);
// stdout is lost when Wine starts the probe inside a desktop.
#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

FILE* g_out = nullptr;
LARGE_INTEGER g_frequency;

double NowMs() {
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) * 1000.0 / static_cast<double>(g_frequency.QuadPart);
}

double Median(std::vector<double> v) {
  if (v.empty()) return 0.0;
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
}

void Report(const std::string& key, double value) {
  std::fprintf(g_out, "%s %.3f\n", key.c_str(), value);
  std::fflush(g_out);
}

bool Start(const char* exe, PROCESS_INFORMATION* process) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  std::string command = std::string("\"") + exe + "\"";
  return CreateProcessA(exe, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        process) != 0;
}

HWND WaitVisible(const char* caption, double timeout_ms) {
  const double until = NowMs() + timeout_ms;
  while (NowMs() < until) {
    HWND window = FindWindowA(nullptr, caption);
    if (window != nullptr && IsWindowVisible(window)) return window;
    Sleep(1);
  }
  return nullptr;
}

void Finish(HWND window, PROCESS_INFORMATION* process) {
  if (window != nullptr) PostMessageA(window, WM_CLOSE, 0, 0);
  if (WaitForSingleObject(process->hProcess, 10000) != WAIT_OBJECT_0) TerminateProcess(process->hProcess, 2);
  CloseHandle(process->hThread);
  CloseHandle(process->hProcess);
}

int Startup(int rounds, int count, char** programs) {
  std::vector<std::vector<double>> times(static_cast<size_t>(count));
  // Interleaved, so that a slow spell of the machine hits every program alike.
  for (int round = 0; round < rounds; ++round) {
    for (int p = 0; p < count; ++p) {
      const char* exe = programs[2 * p];
      const char* caption = programs[2 * p + 1];
      PROCESS_INFORMATION process;
      const double start = NowMs();
      if (!Start(exe, &process)) {
        std::fprintf(g_out, "error start %s %lu\n", exe, GetLastError());
        return 1;
      }
      HWND window = WaitVisible(caption, 20000);
      const double elapsed = NowMs() - start;
      if (window == nullptr) {
        std::fprintf(g_out, "error window %s\n", caption);
        Finish(nullptr, &process);
        return 1;
      }
      times[static_cast<size_t>(p)].push_back(elapsed);
      std::fprintf(g_out, "sample %d %d %.3f\n", p, round, elapsed);
      Finish(window, &process);
      Sleep(100);
    }
  }
  for (int p = 0; p < count; ++p) Report("startup_median_" + std::to_string(p), Median(times[static_cast<size_t>(p)]));
  return 0;
}

// The reply of a NIST server whose UTC time is now minus 8 hours, so that the
// program sets the clock to now (Wine accepts a time within half a second).
std::string Reply() {
  SYSTEMTIME now;
  GetSystemTime(&now);
  FILETIME file;
  SystemTimeToFileTime(&now, &file);
  ULARGE_INTEGER t;
  t.LowPart = file.dwLowDateTime;
  t.HighPart = file.dwHighDateTime;
  t.QuadPart -= 8ull * 3600 * 10000000;
  file.dwLowDateTime = t.LowPart;
  file.dwHighDateTime = t.HighPart;
  SYSTEMTIME server;
  FileTimeToSystemTime(&file, &server);
  char text[96];
  std::snprintf(text, sizeof text, "\n60289 %02d-%02d-%02d %02d:%02d:%02d 00 0 0 563.9 UTC(NIST) * \n",
                server.wYear % 100, server.wMonth, server.wDay, server.wHour, server.wMinute, server.wSecond);
  return text;
}

SOCKET AcceptWithin(SOCKET listener, int timeout_ms) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(listener, &set);
  timeval timeout = {timeout_ms / 1000, (timeout_ms % 1000) * 1000};
  if (select(0, &set, nullptr, nullptr, &timeout) != 1) return INVALID_SOCKET;
  return accept(listener, nullptr, nullptr);
}

void Answer(SOCKET connection) {
  const std::string reply = Reply();
  send(connection, reply.data(), static_cast<int>(reply.size()), 0);
  shutdown(connection, SD_SEND);
  closesocket(connection);
}

// Part 0 of the status bar starts with 校时: 校时完毕 or 校时错误.
bool ShowsResult(HWND status_bar, bool* synchronised) {
  wchar_t text[128] = {};
  SendMessageW(status_bar, WM_GETTEXT, 128, reinterpret_cast<LPARAM>(text));
  if (text[0] != 0x6821 || text[1] != 0x65F6) return false;
  *synchronised = text[2] == 0x5B8C;  // 完
  return true;
}

// Waits until the clock is early in a second, so that the reply's time (whole
// seconds) is still within Wine's half second when the program sets it.
void WaitEarlyInSecond() {
  for (;;) {
    SYSTEMTIME now;
    GetSystemTime(&now);
    if (now.wMilliseconds < 100) return;
    Sleep(1000 - now.wMilliseconds < 5 ? 1 : 1000 - now.wMilliseconds);
  }
}

int Latency(int count, const char* exe, const char* address) {
  WSADATA wsa;
  WSAStartup(MAKEWORD(2, 2), &wsa);
  SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  BOOL yes = TRUE;
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&yes), sizeof yes);
  sockaddr_in where = {};
  where.sin_family = AF_INET;
  where.sin_port = htons(13);
  where.sin_addr.s_addr = inet_addr(address);
  if (bind(listener, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0 || listen(listener, 4) != 0) {
    std::fprintf(g_out, "error listen %s:13 %d\n", address, WSAGetLastError());
    return 1;
  }
  PROCESS_INFORMATION process;
  if (!Start(exe, &process)) {
    std::fprintf(g_out, "error start %s\n", exe);
    return 1;
  }
  HWND window = WaitVisible("Kestrivo V1.0", 20000);
  SOCKET first = AcceptWithin(listener, 10000);
  HWND button = window ? GetDlgItem(window, 140) : nullptr;
  HWND status_bar = window ? FindWindowExA(window, nullptr, "msctls_statusbar32", nullptr) : nullptr;
  if (first == INVALID_SOCKET || button == nullptr || status_bar == nullptr) {
    std::fprintf(g_out, "error setup window %p button %p status %p\n", static_cast<void*>(window),
                 static_cast<void*>(button), static_cast<void*>(status_bar));
    Finish(window, &process);
    return 1;
  }
  Answer(first);
  bool synchronised = false;
  for (double until = NowMs() + 5000; !ShowsResult(status_bar, &synchronised) && NowMs() < until;) Sleep(1);
  Sleep(200);
  // One WM_GETTEXT round trip to the idle program: the resolution of the
  // polling below, and the price of one message sent across to its thread.
  std::vector<double> idle_polls;
  for (int i = 0; i < 200; ++i) {
    const double before = NowMs();
    ShowsResult(status_bar, &synchronised);
    idle_polls.push_back(NowMs() - before);
  }
  Report("latency_idle_poll_median", Median(idle_polls));

  std::vector<double> connect_times, result_times, poll_times;
  int accepted = 0;
  for (int i = 0; i < count; ++i) {
    WaitEarlyInSecond();
    const double click = NowMs();
    SendMessageA(button, BM_CLICK, 0, 0);
    SOCKET connection = AcceptWithin(listener, 10000);
    const double connected = NowMs();
    if (connection == INVALID_SOCKET) {
      std::fprintf(g_out, "error accept %d\n", i);
      break;
    }
    Answer(connection);
    const double sent = NowMs();
    int polls = 0;
    bool shown = false;
    while (NowMs() - sent < 5000) {
      ++polls;
      if ((shown = ShowsResult(status_bar, &synchronised))) break;
    }
    const double result = NowMs();
    if (!shown) {
      std::fprintf(g_out, "error result %d\n", i);
      break;
    }
    accepted += synchronised ? 1 : 0;
    connect_times.push_back(connected - click);
    result_times.push_back(result - sent);
    poll_times.push_back((result - sent) / polls);
    std::fprintf(g_out, "sample %d %.3f %.3f %d %d\n", i, connected - click, result - sent, polls,
                 synchronised ? 1 : 0);
    Sleep(50);
  }
  Report("latency_runs", static_cast<double>(result_times.size()));
  Report("latency_synchronised", accepted);
  Report("latency_send_to_result_median", Median(result_times));
  Report("latency_click_to_accept_median", Median(connect_times));
  Report("latency_poll_roundtrip_median", Median(poll_times));
  closesocket(listener);
  Finish(window, &process);
  return result_times.size() == static_cast<size_t>(count) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  QueryPerformanceFrequency(&g_frequency);
  if (argc < 3) return 2;
  g_out = std::fopen(argv[2], "w");
  if (g_out == nullptr) return 2;
  int rc = 2;
  const std::string command = argv[1];
  if (command == "startup" && argc >= 6 && (argc - 4) % 2 == 0) {
    rc = Startup(std::atoi(argv[3]), (argc - 4) / 2, argv + 4);
  } else if (command == "latency" && argc == 6) {
    rc = Latency(std::atoi(argv[3]), argv[4], argv[5]);
  }
  std::fclose(g_out);
  return rc;
}
