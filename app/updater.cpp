// The updater's window: start-up body, port scan, dispatch, file chooser,
// and the window's side of an update run (the protocol is protocol.cpp).
//
// Strings follow the workspace protocol throughout: remember the position,
// append the pieces, terminate, take the address only then (any piece may
// move the buffer), use it, restore the position.
#include "updater.h"

#include <atomic>

#include "platform.h"
#include "runtime_api.h"
#include "update_front.h"

namespace app {

uint8_t* AnswerBuffer = nullptr;
uint8_t* SendBuffer = nullptr;

namespace {

using rt::RtChar;
using rt::RtString;

MainWindowGadgets gadgets;
RtChar* portPrefix = nullptr;
RtChar* firmwarePattern = nullptr;

// Only the worker writes it while a run is in progress; relaxed atomics keep
// a reader on another thread (a test, a debugger hook) well defined.
std::atomic<int64_t> progressPercent{0};

// Set from the moment "UPDATE!" starts a run until the run hands the button
// back. Events of the button that were already queued when the first one was
// taken must not start a second worker on the same port and file.
std::atomic<bool> runInProgress{false};

constexpr int32_t ByteArrayType = 1;   // plain 8-bit elements
constexpr rt::ObjectNumber Fixed = 0;  // the firmware file, the port, the banner image and its gadget

constexpr RtChar DefaultFirmware[] = u"trx.fw";

std::atomic<ProgressObserver> progressObserver{nullptr};

void SetProgress(int64_t value) { progressPercent.store(value, std::memory_order_relaxed); }

void ShowProgress(int64_t value) {
  if (ProgressObserver observer = progressObserver.load()) observer(value);
  rt::GadgetSetState(gadgets.progressBar, value);
}

}  // namespace

const MainWindowGadgets& Gadgets() { return gadgets; }
int64_t ProgressPercent() { return progressPercent.load(std::memory_order_relaxed); }
void SetProgressObserver(ProgressObserver observer) { progressObserver.store(observer); }

void PrepareBody() {
  rt::StringAssign(&portPrefix, platform::PortPrefix);
  rt::StringAssign(&firmwarePattern, u"Firmware (*.fw)|*.fw;");
  rt::RegisterPngDecoder();
  AllocateBuffers();
}

void AllocateBuffers() {
  if (AnswerBuffer) return;
  rt::ArrayAllocate(1, BufferElements, ByteArrayType, nullptr, reinterpret_cast<void**>(&AnswerBuffer));
  rt::ArrayAllocate(1, BufferElements, ByteArrayType, nullptr, reinterpret_cast<void**>(&SendBuffer));
}

int64_t BuildWindow(int32_t x, int32_t y, int32_t width, int32_t height) {
  rt::WorkspaceEnsure();
  gadgets.window = int64_t(rt::WindowOpen(rt::DynamicNumber, x, y, width, height, platform::WindowTitle,
                                          platform::MainWindowFlags));
  rt::WindowSetColor(gadgets.window, rt::RgbColor(42, 42, 42));

  // The banner describes its own end, so its length is left unbounded.
  rt::ImageCatch(Fixed, BannerPng, 0x7FFFFFFF);
  rt::ImageGadget(Fixed, 0, 0, 400, 60, rt::ImageHandle(Fixed), 0);

  gadgets.portList = int64_t(rt::ComboBoxGadget(rt::DynamicNumber, 10, 70, 70, 20, 0));
  gadgets.fileName = int64_t(rt::StringGadget(rt::DynamicNumber, 90, 70, 200, 20, DefaultFirmware, 0));
  gadgets.openButton = int64_t(rt::ButtonGadget(rt::DynamicNumber, 300, 70, 90, 20, u"Open", 0));
  gadgets.progressBar = int64_t(rt::ProgressBarGadget(rt::DynamicNumber, 10, 110, 380, 30, 0, 100, 0));
  gadgets.updateButton = int64_t(rt::ButtonGadget(rt::DynamicNumber, 140, 160, 140, 30, u"UPDATE!", 0));
  SetProgress(0);
  return 0;
}

void ScanPorts() {
  rt::WorkspaceEnsure();
  for (int64_t index = 0; index < PortCount; ++index) {
    const int64_t saved = rt::WorkspacePosition();
    rt::WorkspaceAppend(portPrefix);
    rt::ReturnNumber(index, rt::WorkspacePosition());
    rt::WorkspaceTerminate();
    if (rt::SerialOpen(Fixed, rt::WorkspaceString(saved), ScanBaud, 0, 8, 1.0f, 0, ScanBuffer, ScanBuffer)) {
      rt::GadgetAddItem(gadgets.portList, -1, rt::WorkspaceString(saved));
      rt::SerialClose(Fixed);
    }
    rt::WorkspaceRestore(saved);
  }
}

void RunEventLoop() {
  while (Dispatch(platform::NextEvent()) != 0) {
  }
}

void ProgramBody() {
  PrepareBody();
  BuildWindow(0, 0, 400, 200);
  ScanPorts();
  RunEventLoop();
}

int32_t Dispatch(int32_t kind) {
  rt::WorkspaceEnsure();
  if (kind == platform::EventCloseRequest) return 0;
  if (kind == platform::EventShortcut) {
    (void)rt::CurrentEventShortcut();
    return 1;
  }
  if (kind == platform::EventGadget) {
    const int64_t gadget = rt::CurrentEventGadget();
    if (gadget == gadgets.openButton) {
      ChooseFile(rt::CurrentEventType());
    } else if (gadget == gadgets.updateButton && !runInProgress.exchange(true)) {
      // Disabled before the thread exists, so a quick second click cannot
      // start a second run; a failed start gives the button back.
      rt::GadgetDisable(gadgets.updateButton, 1);
      if (rt::ThreadStart(UpdateWorker, rt::CurrentEventType()) == 0) {
        runInProgress.store(false);
        rt::GadgetDisable(gadgets.updateButton, 0);
      }
    }
  }
  return 1;
}

void ChooseFile(int64_t) {
  rt::WorkspaceEnsure();
  RtChar* chosen = nullptr;
  const int64_t saved = rt::WorkspacePosition();
  rt::AskOpenFile(u"Please choose file to load", u"", firmwarePattern, 0, saved);
  rt::StringAssignFromWorkspace(&chosen, saved);
  if (rt::StringLength(chosen) == 0) rt::StringAssign(&chosen, DefaultFirmware);
  rt::GadgetSetText(gadgets.fileName, chosen);
  rt::StringFree(&chosen);
}

namespace {

// The window's side of a run: the four input controls locked while it
// runs, the firmware and port as the window shows them, the bar, and the
// result box.
class WindowFront : public UpdateFront {
 public:
  void Begin() override {
    SetProgress(0);
    rt::GadgetDisable(gadgets.portList, 1);
    rt::GadgetDisable(gadgets.fileName, 1);
    rt::GadgetDisable(gadgets.openButton, 1);
    rt::GadgetDisable(gadgets.updateButton, 1);
  }
  void FirmwarePath(int64_t offset) override { FieldText(gadgets.fileName, offset); }
  void PortName(int64_t offset) override { FieldText(gadgets.portList, offset); }
  void Progress(int64_t percent) override {
    SetProgress(percent);
    // The bar stands at 0 when a run starts (the last report reset it).
    // Where it moves only when its value rises, the worker compares with the
    // value it gave last instead of asking the bar on the user-interface
    // thread for every byte: the user sees the same.
    if (platform::ProgressOnEveryByte || percent > barValue_) {
      ShowProgress(percent);
      barValue_ = percent;
    }
  }
  void Report(int32_t code) override { ReportResult(code); }

 private:
  static void FieldText(int64_t gadget, int64_t offset) {
    rt::GadgetGetText(gadget, offset);
    rt::WorkspaceTerminate();
  }
  int64_t barValue_ = 0;
};

}  // namespace

int64_t UpdateWorker(int64_t) {
  WindowFront front;
  RunUpdate(front);
  return 0;
}

int64_t ReportResult(int32_t code) {
  rt::WorkspaceEnsure();
  if (rt::FileIsOpen(Fixed)) rt::FileClose(Fixed);
  if (rt::SerialIsOpen(Fixed)) rt::SerialClose(Fixed);
  ShowProgress(0);
  rt::GadgetDisable(gadgets.portList, 0);
  rt::GadgetDisable(gadgets.fileName, 0);
  rt::GadgetDisable(gadgets.openButton, 0);
  runInProgress.store(false);
  rt::GadgetDisable(gadgets.updateButton, 0);

  const ResultMessage message = ResultMessageOf(code);
  if (code == PortNotOpened) {
    // The port's name as the list shows it at this moment.
    const int64_t saved = rt::WorkspacePosition();
    rt::WorkspaceAppend(message.text);
    rt::GadgetGetText(gadgets.portList, rt::WorkspacePosition());
    rt::WorkspaceTerminate();
    rt::ShowMessage(message.title, rt::WorkspaceString(saved));
    rt::WorkspaceRestore(saved);
  } else if (message.title) {
    rt::ShowMessage(message.title, message.text);
  }
  SetProgress(0);
  return 0;
}

}  // namespace app
