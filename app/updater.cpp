// The updater: window, port scan, dispatch, file chooser, update worker.
//
// Strings follow the workspace protocol throughout: remember the position,
// append the pieces, terminate, take the address only then (any piece may
// move the buffer), use it, restore the position.
#include "updater.h"

#include <algorithm>
#include <atomic>
#include <chrono>

#include "platform.h"
#include "runtime_api.h"

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

using Clock = std::chrono::steady_clock;
// How long a byte the line refuses is offered again before the line counts as gone.
constexpr auto RefusedByteRetry = std::chrono::seconds(1);
// Stale input is dropped until the line has been quiet this long: longer
// than a USB adapter holds received bytes before passing them on (16 ms by
// default), and longer than a pseudo-terminal takes to refill its input
// queue from its buffers.
constexpr auto StaleQuietTime = std::chrono::milliseconds(20);
// A device that never stops talking must not hold the run for ever.
constexpr auto StaleDropLimit = std::chrono::seconds(1);

std::atomic<ProgressObserver> progressObserver{nullptr};

void SetProgress(int64_t value) { progressPercent.store(value, std::memory_order_relaxed); }

void ShowProgress(int64_t value) {
  if (ProgressObserver observer = progressObserver.load()) observer(value);
  rt::GadgetSetState(gadgets.progressBar, value);
}

// Drops whatever the device sent before the header. AnswerBuffer holds 17
// bytes, so a larger backlog is read in pieces of at most 17 until the line
// has been quiet for StaleQuietTime; a read that delivers nothing (a device
// gone away) ends it. A device that keeps talking (a boot log, a console, a
// wrong line speed read as noise) is dropped for StaleDropLimit and then the
// header goes out anyway: the answer wait will find more than two bytes and
// say that the device does not respond.
void DropStaleInput() {
  const Clock::time_point start = Clock::now();
  Clock::time_point lastByte = start;
  for (;;) {
    const Clock::time_point now = Clock::now();
    if (now - start >= StaleDropLimit) return;
    const int64_t waiting = rt::SerialInputPending(Fixed);
    if (waiting > 0) {
      const int32_t piece = int32_t(std::min<int64_t>(waiting, BufferElements));
      if (rt::SerialRead(Fixed, AnswerBuffer, piece) <= 0) return;
      lastByte = Clock::now();
      continue;
    }
    if (now - lastByte >= StaleQuietTime) return;
    rt::DelayMs(1);
  }
}

// Sends SendBuffer[0] as one write. The output-queue poll after every byte
// normally keeps the driver from refusing one, but some USB adapters and
// pseudo-terminals report an empty queue while they still hold data, and a
// Windows write may give up after its time-out; a byte they refuse would
// silently go missing from the firmware. So a refused byte is offered again
// after short pauses. A line that refuses a byte for RefusedByteRetry has gone
// away (unplugged): from then on each byte is written once, as the rest of the
// body has nowhere to go and the final wait will say so. The bound is time,
// not a count of attempts, because one attempt may itself block for a while.
void WriteBodyByte(bool* lineAlive) {
  if (rt::SerialWrite(Fixed, SendBuffer, 1) == 1 || !*lineAlive) return;
  const Clock::time_point start = Clock::now();
  while (Clock::now() - start < RefusedByteRetry) {
    rt::DelayMs(1);
    if (rt::SerialWrite(Fixed, SendBuffer, 1) == 1) return;
  }
  *lineAlive = false;
}

// Reads the two answer bytes into AnswerBuffer (the read's count is not
// examined: a short read leaves earlier bytes to be compared) and tests them.
bool AnswerIsOk() {
  rt::SerialRead(Fixed, AnswerBuffer, 2);
  return AnswerBuffer[0] == 'O' && AnswerBuffer[1] == 'K';
}

// The firmware path as the file-name field holds it now, in the workspace at `saved`.
RtString FileNameText(int64_t saved) {
  rt::GadgetGetText(gadgets.fileName, saved);
  rt::WorkspaceTerminate();
  return rt::WorkspaceString(saved);
}

}  // namespace

const MainWindowGadgets& Gadgets() { return gadgets; }
int64_t ProgressPercent() { return progressPercent.load(std::memory_order_relaxed); }
void SetProgressObserver(ProgressObserver observer) { progressObserver.store(observer); }

void PrepareBody() {
  rt::StringAssign(&portPrefix, platform::PortPrefix);
  rt::StringAssign(&firmwarePattern, u"Firmware (*.fw)|*.fw;");
  rt::RegisterPngDecoder();
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

bool AnswerWait() {
  rt::WorkspaceEnsure();
  int32_t polls = 0;
  do {
    rt::DelayMs(1);
    ++polls;
  } while (rt::SerialInputPending(Fixed) != 2 && polls != AnswerPolls);
  // Bytes that complete only on the last poll still count as too late.
  return polls == AnswerPolls;
}

int64_t UpdateWorker(int64_t) {
  rt::WorkspaceEnsure();
  SetProgress(0);
  rt::GadgetDisable(gadgets.portList, 1);
  rt::GadgetDisable(gadgets.fileName, 1);
  rt::GadgetDisable(gadgets.openButton, 1);
  rt::GadgetDisable(gadgets.updateButton, 1);

  int64_t saved = rt::WorkspacePosition();
  const bool fileOpened = rt::FileOpenForRead(Fixed, FileNameText(saved)) != 0;
  rt::WorkspaceRestore(saved);
  if (!fileOpened) {
    ReportResult(FirmwareMissing);
    return 0;
  }

  saved = rt::WorkspacePosition();
  rt::GadgetGetText(gadgets.portList, saved);
  rt::WorkspaceTerminate();
  const bool portOpened = rt::SerialOpen(Fixed, rt::WorkspaceString(saved), UpdateBaud, 0, 8, 1.0f, 0,
                                         UpdateInputBuffer, UpdateOutputBuffer) != 0;
  rt::WorkspaceRestore(saved);
  if (!portOpened) {
    ReportResult(PortNotOpened);
    return 0;
  }

  rt::DelayMs(100);
  DropStaleInput();

  for (int64_t i = 0; i < HeaderLength; ++i) SendBuffer[i] = uint8_t(rt::FileReadByte(Fixed));
  rt::SerialWrite(Fixed, SendBuffer, int32_t(HeaderLength));
  do {
    rt::DelayMs(1);
  } while (rt::SerialOutputPending(Fixed) != 0);

  if (AnswerWait()) {
    ReportResult(DeviceSilent);
    return 0;
  }
  if (!AnswerIsOk()) {
    ReportResult(FirstAnswerWrong);
    return 0;
  }

  // The size comes from the path, read again from the field, not from the open file.
  saved = rt::WorkspacePosition();
  const int64_t bodyLength = rt::FileSizeOfPath(FileNameText(saved)) - HeaderLength;
  rt::WorkspaceRestore(saved);

  bool lineAlive = true;
  // The bar stands at 0 when a run starts (the last report reset it). Where
  // it moves only when its value rises, the worker compares with the value it
  // gave last instead of asking the bar on the user-interface thread for
  // every byte: the user sees the same.
  int64_t barValue = 0;
  for (int64_t i = 1; i <= bodyLength; ++i) {
    SendBuffer[0] = uint8_t(rt::FileReadByte(Fixed));
    WriteBodyByte(&lineAlive);
    const int64_t percent = rt::TruncateToInteger(double(i) * 100.0 / double(bodyLength));
    SetProgress(percent);
    if (platform::ProgressOnEveryByte || percent > barValue) {
      ShowProgress(percent);
      barValue = percent;
    }
    if (platform::DrainAfterEveryByte) {
      while (rt::SerialOutputPending(Fixed) != 0) {
      }
    }
  }

  if (AnswerWait()) {
    ReportResult(DeviceSilent);
    return 0;
  }
  ReportResult(AnswerIsOk() ? UpdateDone : SecondAnswerWrong);
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

  switch (code) {
    case UpdateDone:
      rt::ShowMessage(u"Information", u"Device update!");
      break;
    case FirmwareMissing:
      rt::ShowMessage(u"ERROR:1", u"Firmware missing!");
      break;
    case PortNotOpened: {
      const int64_t saved = rt::WorkspacePosition();
      rt::WorkspaceAppend(u"Can't open the serial port: ");
      rt::GadgetGetText(gadgets.portList, rt::WorkspacePosition());
      rt::WorkspaceTerminate();
      rt::ShowMessage(u"ERROR:2", rt::WorkspaceString(saved));
      rt::WorkspaceRestore(saved);
      break;
    }
    case DeviceSilent:
      rt::ShowMessage(u"ERROR:3", u"Device does not respond!");
      break;
    case FirstAnswerWrong:
      rt::ShowMessage(u"ERROR:4", u"No correct answer device!");
      break;
    case SecondAnswerWrong:
      rt::ShowMessage(u"ERROR:5", u"Update wrong!");
      break;
    default:
      break;
  }
  SetProgress(0);
  return 0;
}

}  // namespace app
