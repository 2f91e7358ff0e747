#include "window_harness.h"

#include <commctrl.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "core/threads.h"
#include "io/file.h"
#include "io/serial.h"
#include "ui/events.h"
#include "updater.h"
#include "win32/gadget.h"
#include "win32/windows.h"

namespace apptest {

namespace {

using Clock = std::chrono::steady_clock;
constexpr DWORD LookInterval = 20;  // ms between looks for the result box

std::mutex progressMutex;
std::vector<int64_t> progressValues;

void RecordProgress(int64_t value) {
  std::lock_guard<std::mutex> lock(progressMutex);
  progressValues.push_back(value);
}

std::wstring Wide(const std::u16string& s) { return std::wstring(s.begin(), s.end()); }

// A visible standard dialog (the message box's class) of this process. The
// system finds windows of that class itself, so a look costs the Wine server
// one call per dialog on the screen, not several per window.
HWND FindResultBox() {
  const DWORD self = GetCurrentProcessId();
  HWND box = nullptr;
  while ((box = FindWindowExW(nullptr, box, L"#32770", nullptr)) != nullptr) {
    DWORD process = 0;
    GetWindowThreadProcessId(box, &process);
    if (process == self && IsWindowVisible(box)) return box;
  }
  return nullptr;
}

struct BoxParts {
  std::u16string text;
  HWND button = nullptr;
};

// The box's message is its static text control that holds text (the icon,
// when there is one, is a static control without text); its one button is OK.
BoxParts ReadBox(HWND box) {
  BoxParts parts;
  EnumChildWindows(
      box,
      [](HWND child, LPARAM context) -> BOOL {
        auto* p = reinterpret_cast<BoxParts*>(context);
        wchar_t name[16] = {};
        GetClassNameW(child, name, 16);
        const std::u16string text = WindowText(child);
        if (_wcsicmp(name, L"Static") == 0 && !text.empty()) p->text = text;
        if (_wcsicmp(name, L"Button") == 0 && !p->button) p->button = child;
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&parts));
  return parts;
}

}  // namespace

std::u16string WindowText(HWND window) {
  const int length = GetWindowTextLengthW(window);
  std::wstring text(size_t(length) + 1, L'\0');
  text.resize(size_t(GetWindowTextW(window, text.data(), length + 1)));
  return std::u16string(text.begin(), text.end());
}

void WindowHarness::BuildFreshWindow() {
  static bool prepared = false;
  if (!prepared) {
    app::PrepareBody();
    prepared = true;
  } else {
    rt::WindowFree(app::Gadgets().window);
  }
  app::BuildWindow(0, 0, 400, 200);
  app::ScanPorts();
  app::SetProgressObserver(RecordProgress);
}

HWND WindowHarness::MainWindow() const { return rt::WindowHandle(app::Gadgets().window); }
HWND WindowHarness::PortList() const { return rt::GadgetHandle(app::Gadgets().portList); }
HWND WindowHarness::FileName() const { return rt::GadgetHandle(app::Gadgets().fileName); }
HWND WindowHarness::OpenButton() const { return rt::GadgetHandle(app::Gadgets().openButton); }
HWND WindowHarness::UpdateButton() const { return rt::GadgetHandle(app::Gadgets().updateButton); }
HWND WindowHarness::ProgressBar() const { return rt::GadgetHandle(app::Gadgets().progressBar); }

std::vector<std::u16string> WindowHarness::Ports() const {
  std::vector<std::u16string> ports;
  const LRESULT count = SendMessageW(PortList(), CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    std::wstring item(size_t(SendMessageW(PortList(), CB_GETLBTEXTLEN, WPARAM(i), 0)) + 1, L'\0');
    item.resize(size_t(SendMessageW(PortList(), CB_GETLBTEXT, WPARAM(i), LPARAM(item.data()))));
    ports.emplace_back(item.begin(), item.end());
  }
  return ports;
}

bool WindowHarness::ChoosePort(const std::u16string& name) {
  const std::wstring wide = Wide(name);
  const LRESULT index = SendMessageW(PortList(), CB_FINDSTRINGEXACT, WPARAM(-1), LPARAM(wide.c_str()));
  if (index == CB_ERR) return false;
  SendMessageW(PortList(), CB_SETCURSEL, WPARAM(index), 0);
  return true;
}

void WindowHarness::SetFileName(const std::u16string& path) { SetWindowTextW(FileName(), Wide(path).c_str()); }

void WindowHarness::ClickUpdate() {
  {
    std::lock_guard<std::mutex> lock(progressMutex);
    progressValues.clear();
  }
  SendMessageW(UpdateButton(), BM_CLICK, 0, 0);
}

std::vector<int64_t> WindowHarness::ProgressValues() const {
  std::lock_guard<std::mutex> lock(progressMutex);
  return progressValues;
}

bool WindowHarness::AllInputGadgetsEnabled() const {
  return IsWindowEnabled(PortList()) && IsWindowEnabled(FileName()) && IsWindowEnabled(OpenButton()) &&
         IsWindowEnabled(UpdateButton());
}

int WindowHarness::BarPosition() const { return int(SendMessageW(ProgressBar(), PBM_GETPOS, 0, 0)); }

bool WindowHarness::RunUntilFinished(Outcome* outcome, std::chrono::milliseconds limit) {
  *outcome = Outcome{};
  // The user-interface thread runs the program's own loop, blocked in the
  // system's message wait as the program is, carrying out the worker's calls
  // on the gadgets. The box runs its own modal loop on the worker's thread: a
  // thread of the test's own looks for it, records what it says and what
  // surrounds it, and presses its button; once the worker has ended (or the
  // time is up) it wakes the loop with an empty message. Each look asks the
  // Wine server, so it looks only every 20 ms: often enough for a person's
  // click, and rarely enough not to slow the worker's own calls to the server
  // (the transfer benchmark runs through here).
  const Clock::time_point deadline = Clock::now() + limit;
  const HWND window = MainWindow();
  std::atomic<bool> stop{false};
  std::atomic<bool> answered{false};
  Outcome seen;
  std::thread answerer([&] {
    HWND last = nullptr;
    bool woken = false;
    while (!stop.load()) {
      if (!woken && ((answered.load() && rt::ThreadRunningCount() == 0) || Clock::now() >= deadline)) {
        PostMessageW(window, WM_NULL, 0, 0);
        woken = true;
      }
      HWND box = FindResultBox();
      const BoxParts parts = box && box != last ? ReadBox(box) : BoxParts{};
      // A box without text or button is still being filled in.
      if (parts.text.empty() || !parts.button) {
        Sleep(LookInterval);
        continue;
      }
      last = box;
      ++seen.boxes;
      seen.shown = true;
      seen.title = WindowText(box);
      seen.text = parts.text;
      seen.fileOpen = rt::FileIsOpen(0) != 0;
      seen.portOpen = rt::SerialIsOpen(0) != 0;
      seen.gadgetsEnabled = AllInputGadgetsEnabled();
      seen.barValue = BarPosition();
      seen.owner = GetWindow(box, GW_OWNER);
      seen.ownerEnabled = seen.owner && IsWindowEnabled(seen.owner);
      SendMessageW(parts.button, BM_CLICK, 0, 0);
      answered.store(true);
    }
  });
  bool finished = false;
  for (;;) {
    const int32_t kind = rt::WindowEventWait(-1);
    if (kind > 0) app::Dispatch(kind);
    if (answered.load() && rt::ThreadRunningCount() == 0) {
      finished = true;
      break;
    }
    if (Clock::now() >= deadline) break;
  }
  stop.store(true);
  answerer.join();
  *outcome = seen;
  return finished;
}

}  // namespace apptest
