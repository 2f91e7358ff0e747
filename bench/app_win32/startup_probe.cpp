// Start-up time of a Windows program under Wine: from CreateProcessW to its
// window being shown with its last control in place and the program waiting
// for input (WaitForInputIdle), polled every millisecond. The programs take
// turns, so neither always runs on a warmed-up machine. Each is closed with
// WM_CLOSE and must end by itself. Prints each program's median and the ratio
// of the first to the second.
//   app_win32_startup_probe ROUNDS PROGRAM TITLE YARDSTICK TITLE
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::wstring Wide(const char* s) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, s, -1, nullptr, 0);
  std::wstring out(size_t(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s, -1, out.data(), n);
  out.pop_back();
  return out;
}

struct Search {
  DWORD process;
  const std::wstring* title;
  HWND window;
};

HWND FindShownWindow(DWORD process, const std::wstring& title) {
  Search search{process, &title, nullptr};
  EnumWindows(
      [](HWND window, LPARAM context) -> BOOL {
        auto* s = reinterpret_cast<Search*>(context);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        wchar_t text[64] = {};
        GetWindowTextW(window, text, 64);
        if (owner != s->process || !IsWindowVisible(window) || *s->title != text) return TRUE;
        s->window = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.window;
}

// The last control of both programs is the "UPDATE!" button.
bool LastControlPresent(HWND window) { return FindWindowExW(window, nullptr, L"Button", L"UPDATE!") != nullptr; }

// Seconds to the ready window, or a negative value on failure.
double StartOnce(const std::wstring& program, const std::wstring& title) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  std::wstring commandLine = L"\"" + program + L"\"";
  const Clock::time_point start = Clock::now();
  if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return -1;
  }
  double seconds = -1;
  HWND window = nullptr;
  while (Clock::now() - start < std::chrono::seconds(30)) {
    window = FindShownWindow(process.dwProcessId, title);
    if (window && LastControlPresent(window) && WaitForInputIdle(process.hProcess, 0) == 0) {
      seconds = std::chrono::duration<double>(Clock::now() - start).count();
      break;
    }
    Sleep(1);
  }
  if (window) PostMessageW(window, WM_CLOSE, 0, 0);
  if (WaitForSingleObject(process.hProcess, 10000) != WAIT_OBJECT_0) {
    std::fprintf(stderr, "a program did not end after WM_CLOSE\n");
    TerminateProcess(process.hProcess, 1);
    seconds = -1;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return seconds;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

double Least(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: %s ROUNDS PROGRAM TITLE YARDSTICK TITLE\n", argv[0]);
    return 2;
  }
  const int rounds = std::max(1, std::atoi(argv[1]));
  const std::wstring programs[2] = {Wide(argv[2]), Wide(argv[4])};
  const std::wstring titles[2] = {Wide(argv[3]), Wide(argv[5])};
  std::vector<double> times[2];
  // One unmeasured start of each, so both find the same warm system.
  for (int which = 0; which < 2; ++which) StartOnce(programs[which], titles[which]);
  for (int round = 0; round < rounds; ++round) {
    for (int step = 0; step < 2; ++step) {
      const int which = (round + step) % 2;
      const double seconds = StartOnce(programs[which], titles[which]);
      if (seconds < 0) {
        std::fprintf(stderr, "%s: no ready window\n", argv[2 + 2 * which]);
        return 1;
      }
      times[which].push_back(seconds);
    }
  }
  const double program = Median(times[0]), yardstick = Median(times[1]);
  std::printf("start-up under Wine, CreateProcess to the ready window (median of %d; fastest):\n", rounds);
  std::printf("  program:        %.1f ms; %.1f ms\n", program * 1000, Least(times[0]) * 1000);
  std::printf("  minimal window: %.1f ms; %.1f ms\n", yardstick * 1000, Least(times[1]) * 1000);
  std::printf("  program / minimal: %.2fx; %.2fx (goal <= 1.2x)\n", program / yardstick,
              Least(times[0]) / Least(times[1]));
  return 0;
}
