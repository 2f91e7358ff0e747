// Drives the updater's real window in-process, as a user would: builds it
// with the application's own code, fills and selects the port list, presses
// "UPDATE!" through the real button, runs the program's own dispatcher, and
// answers the result box from the user-interface thread. Shared by the
// in-process tests and the transfer benchmark.
#pragma once

#include <QString>
#include <Qt>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

class QComboBox;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QWidget;

namespace apptest {

// What the result box said, and the state of everything at the moment it showed.
struct Outcome {
  bool shown = false;
  QString title;
  QString text;
  int boxes = 0;             // result boxes seen during the run
  bool fileOpen = true;      // file 0 still open when the box showed
  bool portOpen = true;      // port 0 still open when the box showed
  bool gadgetsEnabled = false;
  int barValue = -1;
  QWidget* boxOwner = nullptr;  // the top-level window the box belongs to
  Qt::WindowModality boxModality = Qt::NonModal;
  bool boxWasModal = false;     // the application's modal widget while it showed
};

class WindowHarness {
 public:
  // Frees the window of an earlier test and builds a new one (the gadgets are new too).
  void BuildFreshWindow();

  QWidget* GadgetWidget(int64_t gadget) const;
  QComboBox* PortList() const;
  QLineEdit* FileName() const;
  QPushButton* OpenButton() const;
  QPushButton* UpdateButton() const;
  QProgressBar* ProgressBar() const;

  // Appends `path` to the port list through the runtime and selects it.
  void AddAndSelectPort(const std::string& path);
  void SetFileName(const std::string& path);
  void ClickUpdate();

  // Runs the program's event loop until the run has been reported, its box
  // answered and its thread has ended; false when `limit` passes first.
  bool RunUntilFinished(Outcome* outcome, std::chrono::milliseconds limit);
  // Runs the event loop for a while, dispatching what comes.
  void Pump(std::chrono::milliseconds duration);

  // Every value the worker gave the progress bar during the last run, in order.
  std::vector<int64_t> ProgressValues() const;
  bool AllInputGadgetsEnabled() const;
};

// Waits (pumping Qt events) until no runtime thread runs; false on time-out.
bool WaitForWorkers(std::chrono::milliseconds limit);

}  // namespace apptest
