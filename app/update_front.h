// What one update run asks of its surroundings. The window (updater.cpp)
// and the command line (command_line.cpp) each provide one; the device
// protocol between them (protocol.cpp) is one piece of code for both.
#pragma once

#include <cstdint>

namespace app {

class UpdateFront {
 public:
  virtual ~UpdateFront() = default;
  // The run starts (the window locks its controls).
  virtual void Begin() = 0;
  // The firmware's path and the port's name, written at `offset` of the
  // calling thread's workspace and terminated there.
  virtual void FirmwarePath(int64_t offset) = 0;
  virtual void PortName(int64_t offset) = 0;
  // The port has just opened; the pause and the drop of stale input follow.
  // (A test puts input on the line here, at a moment it knows.)
  virtual void PortOpened() {}
  // After each body byte: i x 100 / body length, truncated.
  virtual void Progress(int64_t percent) = 0;
  // Asked between body bytes and answer polls; true ends the run at once
  // with UpdateInterrupted.
  virtual bool Interrupted() { return false; }
  // The outcome; the firmware file and the port are closed by then.
  virtual void Report(int32_t code) = 0;
};

// Runs one update through `front` on the calling thread: opens the firmware
// (file 0) and the port (port 0), sends the header, waits for "OK", sends
// the body one byte per write, waits for the second "OK", closes both and
// reports. Returns the code it reported.
int32_t RunUpdate(UpdateFront& front);

}  // namespace app
