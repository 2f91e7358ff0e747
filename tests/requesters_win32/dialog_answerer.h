// Answers a requester as a user would: a thread of the test's own waits for a
// visible dialog of this process with the given title, lets the test look at
// it, and presses one of its buttons.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

namespace fwu_test {

class DialogAnswerer {
 public:
  // `answer` runs on the answerer's thread with the dialog; it must end the
  // dialog (Press, Close), or the requester and with it the test never return.
  DialogAnswerer(std::wstring title, std::function<void(HWND)> answer);
  ~DialogAnswerer();
  DialogAnswerer(const DialogAnswerer&) = delete;
  DialogAnswerer& operator=(const DialogAnswerer&) = delete;

  bool Found() const { return found_; }

 private:
  void Run();

  std::wstring title_;
  std::function<void(HWND)> answer_;
  std::atomic<bool> found_{false};
  std::thread thread_;  // last: starts once the rest is ready
};

// Reading a message box.
std::wstring BoxText(HWND box);
bool HasButton(HWND box, int id);
HICON BoxIcon(HWND box);  // null: the box shows none

// Answering: a button as if clicked, or the window's close request.
void Press(HWND dialog, int id);
void Close(HWND dialog);

// The open and save dialogs: waits until the dialog shows its folder, then
// what it shows and proposes.
std::wstring DialogFolder(HWND dialog);
std::wstring DialogProposedName(HWND dialog);
// Types `text` into the file-name field and accepts it.
void AcceptName(HWND dialog, const std::wstring& text);
// The list of file types: its entries and the one selected.
std::wstring FilterShown(HWND dialog, int index);
int FilterCount(HWND dialog);
int FilterSelected(HWND dialog);

}  // namespace fwu_test
