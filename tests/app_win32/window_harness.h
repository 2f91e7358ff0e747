// Drives the updater's real Win32 window in-process, as a user would: builds
// it with the application's own code and the real port scan, chooses a port
// in the combo box, presses "UPDATE!" with a real button click, runs the
// program's own dispatcher on the user-interface thread, and answers the
// result box from a thread of its own, the way a user's click would reach it.
// Shared by the in-process tests and the transfer benchmark.
#pragma once

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace apptest {

// What the result box said, and the state of everything at the moment it showed.
struct Outcome {
  bool shown = false;
  std::u16string title;
  std::u16string text;
  int boxes = 0;          // result boxes seen during the run
  bool fileOpen = true;   // file 0 still open when the box showed
  bool portOpen = true;   // port 0 still open when the box showed
  bool gadgetsEnabled = false;
  int barValue = -1;
  HWND owner = nullptr;     // the box's owner window
  bool ownerEnabled = true;  // the owner accepted input while the box showed
};

class WindowHarness {
 public:
  // Frees the window of an earlier run and builds a new one, with a fresh
  // port scan (the gadgets are new too).
  void BuildFreshWindow();

  HWND MainWindow() const;
  HWND PortList() const;
  HWND FileName() const;
  HWND OpenButton() const;
  HWND UpdateButton() const;
  HWND ProgressBar() const;

  // The port list's entries, in order.
  std::vector<std::u16string> Ports() const;
  // Chooses the entry `name` in the port list as the user would; false when
  // it is not listed.
  bool ChoosePort(const std::u16string& name);
  void SetFileName(const std::u16string& path);
  // A click on "UPDATE!" through the button itself.
  void ClickUpdate();

  // Runs the program's event loop until the run has been reported, its box
  // answered and its thread has ended; false when `limit` passes first.
  bool RunUntilFinished(Outcome* outcome, std::chrono::milliseconds limit);

  // Every value the worker gave the progress bar during the last run, in order.
  std::vector<int64_t> ProgressValues() const;
  bool AllInputGadgetsEnabled() const;
  int BarPosition() const;
};

std::u16string WindowText(HWND window);

}  // namespace apptest
