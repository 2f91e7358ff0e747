#include "io/console.h"

#include <windows.h>

#include <io.h>

#include <atomic>

namespace rt {

namespace {

std::atomic<void (*)()> g_handler{nullptr};

// Runs on a thread the system starts for the event. TRUE keeps the process
// alive so the run can close its port and say why it stopped.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
      if (auto handler = g_handler.load()) {
        handler();
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

// A stream that already leads somewhere (a pipe or file the shell
// redirected to) is kept; only a stream with nothing behind it is pointed
// at the console.
void Reopen(FILE* stream, DWORD which, const char* device, const char* mode) {
  const HANDLE handle = GetStdHandle(which);
  if (handle != nullptr && handle != INVALID_HANDLE_VALUE && _fileno(stream) >= 0) return;
  FILE* reopened = nullptr;
  freopen_s(&reopened, device, mode, stream);
  if (reopened) setvbuf(reopened, nullptr, stream == stderr ? _IONBF : _IOLBF, 0);
}

}  // namespace

bool ConsoleIsTerminal(FILE* stream) {
  if (!stream) return false;
  const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  DWORD mode = 0;
  return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

void ConsoleOnInterrupt(void (*handler)()) {
  g_handler.store(handler);
  SetConsoleCtrlHandler(OnConsoleEvent, handler ? TRUE : FALSE);
}

bool ConsoleAttachParent() {
  if (GetConsoleWindow() == nullptr && !AttachConsole(ATTACH_PARENT_PROCESS)) {
    // No parent console: output goes wherever the handles already lead.
    return GetStdHandle(STD_OUTPUT_HANDLE) != nullptr;
  }
  Reopen(stdin, STD_INPUT_HANDLE, "CONIN$", "r");
  Reopen(stdout, STD_OUTPUT_HANDLE, "CONOUT$", "w");
  Reopen(stderr, STD_ERROR_HANDLE, "CONOUT$", "w");
  return true;
}

}  // namespace rt
