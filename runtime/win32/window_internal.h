// The window library's record and what its files share; not for the program.
#pragma once

#include <windows.h>

#include <cstdint>

#include "core/object_table.h"

namespace rt {

struct WindowRecord;
using WindowEraseRoutine = void (*)(HWND window, HDC dc, const WindowRecord* record);

// Element of the window table; the window handle is the presence word.
struct WindowRecord {
  HWND window;
  ACCEL* accelerators;  // SizedAlloc block of acceleratorCount entries
  HACCEL acceleratorTable;
  WNDPROC callback;  // the window's own message callback, or null
  int32_t acceleratorCount;
  int64_t colour;  // RgbColor value, -1 = the system colour
  HBRUSH brush;    // made from colour; null for -1
  HWND mdiClient;  // for an MDI child: its client window
  WindowEraseRoutine erase;
  uint16_t minWidth, minHeight, maxWidth, maxHeight;  // client sizes for tracking, 0 = no limit
  int32_t minimisedOrMaximised;
  int32_t ready;        // 0 while WindowOpen runs
  int32_t eraseAlways;  // run the erase routine even without a brush
};

constexpr wchar_t kWindowIdProperty[] = L"KT_WindowID";  // number + 1
constexpr wchar_t kFocusProperty[] = L"KT_Focus";
constexpr wchar_t kDropAcceptProperty[] = L"KT_DropAccept";

// Navigation commands of every window's accelerator table.
constexpr WORD kNextGadgetCommand = 0xFA01;
constexpr WORD kPreviousGadgetCommand = 0xFA02;

ObjectTable* WindowTable();
// The runtime window `window` is (its property), with its number; null and -1
// for any other window.
WindowRecord* WindowRecordOf(HWND window, int64_t* number);
// `window` or its nearest ancestor that carries a window number.
HWND RuntimeWindowAbove(HWND window);
// The window the requesters belong to goes with its window.
void WindowForgetMain(HWND window);

LRESULT CALLBACK WindowClassProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Fills the client area with `record`'s brush (or the button face) around
// the children that do not stand on the window's background.
void EraseBackground(HWND window, HDC dc, const WindowRecord* record);
// The window's class, unregistered as soon as the system lets go of it
// (not while its window is still being destroyed).
void WindowClassRelease(int64_t identity);
void WindowClassReleasePending();

// Keyboard (keyboard_navigation.cpp).
void MoveFocus(HWND active, bool forward);
void ShowKeyboardCues(HWND window, bool show);
// The accelerator table the wait translates keys with, or null.
HACCEL AcceleratorTableFor(HWND active);

// Probes of the system, each made once (system_probes.cpp).
// GetProcAddress of a known signature (through the one function-pointer
// type every other one may be cast from without a warning).
template <class Function>
Function ProcAddress(HMODULE module, const char* name) {
  return module ? reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name))) : nullptr;
}
int32_t DesktopCompositionOffset();  // 5 with desktop composition, else 0
int32_t SystemVersionCode();
uint32_t CommonControlsVersion();  // major << 16 | minor
bool ApplicationThemed();

}  // namespace rt
