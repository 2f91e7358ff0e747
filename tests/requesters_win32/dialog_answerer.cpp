#include "dialog_answerer.h"

#include <commdlg.h>
#include <dlgs.h>

#include <chrono>
#include <cstdio>

namespace fwu_test {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPatience = std::chrono::seconds(30);

struct Search {
  const std::wstring* title;
  HWND found;
};

BOOL CALLBACK Look(HWND window, LPARAM raw) {
  auto* search = reinterpret_cast<Search*>(raw);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process != GetCurrentProcessId() || !IsWindowVisible(window)) return TRUE;
  wchar_t text[256] = {};
  wchar_t kind[64] = {};
  GetWindowTextW(window, text, 256);
  GetClassNameW(window, kind, 64);
  if (*search->title == text && std::wstring(L"#32770") == kind) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK FindIcon(HWND child, LPARAM raw) {
  wchar_t kind[64] = {};
  GetClassNameW(child, kind, 64);
  if (std::wstring(L"Static") == kind && (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
    *reinterpret_cast<HICON*>(raw) = reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0));
    return FALSE;
  }
  return TRUE;
}

}  // namespace

DialogAnswerer::DialogAnswerer(std::wstring title, std::function<void(HWND)> answer)
    : title_(std::move(title)), answer_(std::move(answer)), thread_([this] { Run(); }) {}

DialogAnswerer::~DialogAnswerer() { thread_.join(); }

void DialogAnswerer::Run() {
  const auto deadline = Clock::now() + kPatience;
  while (Clock::now() < deadline) {
    Search search{&title_, nullptr};
    EnumWindows(Look, reinterpret_cast<LPARAM>(&search));
    if (search.found) {
      found_ = true;
      answer_(search.found);
      return;
    }
    Sleep(5);
  }
  std::fprintf(stderr, "no dialog titled %ls appeared\n", title_.c_str());
}

std::wstring BoxText(HWND box) {
  wchar_t text[512] = {};
  GetDlgItemTextW(box, 0xFFFF, text, 512);  // the message's static control
  return text;
}

bool HasButton(HWND box, int id) {
  HWND button = GetDlgItem(box, id);
  return button && IsWindowVisible(button);
}

HICON BoxIcon(HWND box) {
  HICON icon = nullptr;
  EnumChildWindows(box, FindIcon, reinterpret_cast<LPARAM>(&icon));
  return icon;
}

void Press(HWND dialog, int id) {
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void Close(HWND dialog) { PostMessageW(dialog, WM_CLOSE, 0, 0); }

std::wstring DialogFolder(HWND dialog) {
  wchar_t folder[MAX_PATH] = {};
  // The folder is known once the dialog has browsed to it.
  const auto deadline = Clock::now() + kPatience;
  while (SendMessageW(dialog, CDM_GETFOLDERPATH, MAX_PATH, reinterpret_cast<LPARAM>(folder)) <= 1 &&
         Clock::now() < deadline) {
    Sleep(5);
  }
  return folder;
}

std::wstring DialogProposedName(HWND dialog) {
  DialogFolder(dialog);
  wchar_t name[MAX_PATH] = {};
  SendMessageW(dialog, CDM_GETSPEC, MAX_PATH, reinterpret_cast<LPARAM>(name));
  return name;
}

void AcceptName(HWND dialog, const std::wstring& text) {
  DialogFolder(dialog);
  SendMessageW(dialog, CDM_SETCONTROLTEXT, cmb13, reinterpret_cast<LPARAM>(text.c_str()));
  Press(dialog, IDOK);
}

std::wstring FilterShown(HWND dialog, int index) {
  wchar_t text[256] = {};
  if (SendDlgItemMessageW(dialog, cmb1, CB_GETLBTEXTLEN, index, 0) < 256) {
    SendDlgItemMessageW(dialog, cmb1, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text));
  }
  return text;
}

int FilterCount(HWND dialog) { return static_cast<int>(SendDlgItemMessageW(dialog, cmb1, CB_GETCOUNT, 0, 0)); }

int FilterSelected(HWND dialog) { return static_cast<int>(SendDlgItemMessageW(dialog, cmb1, CB_GETCURSEL, 0, 0)); }

}  // namespace fwu_test
