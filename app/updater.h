// The updater application: start-up body, main window, port scan, event
// dispatch, the file chooser, and the update worker with its device protocol.
// Free of any user-interface toolkit: it talks to the runtime only.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/types.h"

namespace app {

// Application variables shared by the user-interface thread and the worker.
// The gadget numbers are written once while the window is built, before any
// worker exists, and only read afterwards.
struct MainWindowGadgets {
  int64_t window = 0;
  int64_t portList = 0;
  int64_t fileName = 0;
  int64_t openButton = 0;
  int64_t progressBar = 0;
  int64_t updateButton = 0;
};
const MainWindowGadgets& Gadgets();

extern uint8_t* AnswerBuffer;   // 17 bytes: every byte read from the device lands here
extern uint8_t* SendBuffer;     // 17 bytes: the header, then each body byte in element 0
constexpr int64_t BufferElements = 17;

// The last progress value (0..100); written by the worker only.
int64_t ProgressPercent();

// Sees every value the worker gives the progress bar, on the worker's thread
// (null: nobody). The bar itself may skip values that follow each other
// quickly; this sees them all.
using ProgressObserver = void (*)(int64_t value);
void SetProgressObserver(ProgressObserver observer);

// Result codes of one update run.
enum ResultCode : int32_t {
  UpdateDone = 0,
  FirmwareMissing = 1,
  PortNotOpened = 2,
  DeviceSilent = 3,
  FirstAnswerWrong = 4,
  SecondAnswerWrong = 5,
  // Not a result of the device: the run was stopped from outside (Ctrl+C on
  // the command line). The window never produces it.
  UpdateInterrupted = 130,
};

// Protocol constants.
constexpr int64_t HeaderLength = 16;
constexpr int32_t AnswerPolls = 5000;   // each after a 1 ms sleep
constexpr int32_t UpdateBaud = 57600;
constexpr int64_t UpdateInputBuffer = 16;
constexpr int64_t UpdateOutputBuffer = 0x80000;
constexpr int32_t ScanBaud = 9600;
constexpr int64_t ScanBuffer = 16;
constexpr int32_t PortCount = 100;

// The message of each result: its title, and its text (for PortNotOpened
// the port's name follows the text).
struct ResultMessage {
  rt::RtString title;
  rt::RtString text;
};
ResultMessage ResultMessageOf(int32_t code);

// The program body that runs between the runtime start-up and shut-down.
void ProgramBody();

// The body's steps, in order (ProgramBody runs them all; tests run them one by one).
void PrepareBody();   // port prefix, PNG decoder, the two buffers
void AllocateBuffers();  // the two buffers alone, zero-filled (once)
int64_t BuildWindow(int32_t x, int32_t y, int32_t width, int32_t height);
void ScanPorts();
void RunEventLoop();

// 0 ends the event loop, 1 goes on.
int32_t Dispatch(int32_t kind);
void ChooseFile(int64_t eventType);

int64_t UpdateWorker(int64_t argument);
int64_t ReportResult(int32_t code);


// The embedded banner (generated from banner.png at build time).
extern const uint8_t BannerPng[];
extern const size_t BannerPngSize;

}  // namespace app
