// The device protocol of one update, shared by the window and the command
// line: header, first answer, body one byte per write, second answer.
//
// Strings follow the workspace protocol: remember the position, append the
// pieces, terminate, take the address only then, use it, restore the position.
#include <algorithm>
#include <chrono>

#include "platform.h"
#include "runtime_api.h"
#include "update_front.h"
#include "updater.h"

namespace app {

namespace {

constexpr rt::ObjectNumber Fixed = 0;  // the firmware file and the port

using Clock = std::chrono::steady_clock;
// Stale input is dropped until the line has been quiet this long: longer
// than a USB adapter holds received bytes before passing them on (16 ms by
// default), and longer than a pseudo-terminal takes to refill its input
// queue from its buffers.
constexpr auto StaleQuietTime = std::chrono::milliseconds(20);
// A device that never stops talking must not hold the run for ever.
constexpr auto StaleDropLimit = std::chrono::seconds(1);

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
// after short pauses. A line that refuses a byte for RefusedByteRetryMs (its
// platform's) has gone away (unplugged): from then on each byte is written
// once, as the rest of the body has nowhere to go and the final wait will say
// so. The bound is time, not a count of attempts, because one attempt may
// itself block for a while.
void WriteBodyByte(bool* lineAlive) {
  if (rt::SerialWrite(Fixed, SendBuffer, 1) == 1 || !*lineAlive) return;
  const Clock::time_point start = Clock::now();
  while (Clock::now() - start < std::chrono::milliseconds(platform::RefusedByteRetryMs)) {
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

enum class WaitResult { Answered, TimedOut, Interrupted };

// Waits up to 5000 polls, each after a 1 ms sleep, for exactly two waiting
// bytes; the front may end the wait between polls.
WaitResult AnswerWait(UpdateFront& front) {
  int32_t polls = 0;
  do {
    if (front.Interrupted()) return WaitResult::Interrupted;
    rt::DelayMs(1);
    ++polls;
  } while (rt::SerialInputPending(Fixed) != 2 && polls != AnswerPolls);
  // Bytes that complete only on the last poll still count as too late.
  return polls == AnswerPolls ? WaitResult::TimedOut : WaitResult::Answered;
}

// Every run ends here: the file and the port are closed before the outcome is told.
int32_t Finish(UpdateFront& front, int32_t code) {
  if (rt::FileIsOpen(Fixed)) rt::FileClose(Fixed);
  if (rt::SerialIsOpen(Fixed)) rt::SerialClose(Fixed);
  front.Report(code);
  return code;
}

}  // namespace

ResultMessage ResultMessageOf(int32_t code) {
  switch (code) {
    case UpdateDone: return {u"Information", u"Device update!"};
    case FirmwareMissing: return {u"ERROR:1", u"Firmware missing!"};
    case PortNotOpened: return {u"ERROR:2", u"Can't open the serial port: "};
    case DeviceSilent: return {u"ERROR:3", u"Device does not respond!"};
    case FirstAnswerWrong: return {u"ERROR:4", u"No correct answer device!"};
    case SecondAnswerWrong: return {u"ERROR:5", u"Update wrong!"};
    default: return {nullptr, nullptr};
  }
}

int32_t RunUpdate(UpdateFront& front) {
  rt::WorkspaceEnsure();
  front.Begin();

  int64_t saved = rt::WorkspacePosition();
  front.FirmwarePath(saved);
  const bool fileOpened = rt::FileOpenForRead(Fixed, rt::WorkspaceString(saved)) != 0;
  rt::WorkspaceRestore(saved);
  if (!fileOpened) return Finish(front, FirmwareMissing);

  saved = rt::WorkspacePosition();
  front.PortName(saved);
  const bool portOpened = rt::SerialOpen(Fixed, rt::WorkspaceString(saved), UpdateBaud, 0, 8, 1.0f, 0,
                                         UpdateInputBuffer, UpdateOutputBuffer) != 0;
  rt::WorkspaceRestore(saved);
  if (!portOpened) return Finish(front, PortNotOpened);
  front.PortOpened();

  rt::DelayMs(100);
  DropStaleInput();

  for (int64_t i = 0; i < HeaderLength; ++i) SendBuffer[i] = uint8_t(rt::FileReadByte(Fixed));
  rt::SerialWrite(Fixed, SendBuffer, int32_t(HeaderLength));
  do {
    rt::DelayMs(1);
  } while (rt::SerialOutputPending(Fixed) != 0);

  const WaitResult first = AnswerWait(front);
  if (first != WaitResult::Answered) {
    return Finish(front, first == WaitResult::TimedOut ? DeviceSilent : UpdateInterrupted);
  }
  if (!AnswerIsOk()) return Finish(front, FirstAnswerWrong);

  // The size comes from the path, asked for again, not from the open file.
  saved = rt::WorkspacePosition();
  front.FirmwarePath(saved);
  const int64_t bodyLength = rt::FileSizeOfPath(rt::WorkspaceString(saved)) - HeaderLength;
  rt::WorkspaceRestore(saved);

  bool lineAlive = true;
  for (int64_t i = 1; i <= bodyLength; ++i) {
    if (front.Interrupted()) return Finish(front, UpdateInterrupted);
    SendBuffer[0] = uint8_t(rt::FileReadByte(Fixed));
    WriteBodyByte(&lineAlive);
    front.Progress(rt::TruncateToInteger(double(i) * 100.0 / double(bodyLength)));
    if (platform::DrainAfterEveryByte) {
      while (rt::SerialOutputPending(Fixed) != 0) {
      }
    }
  }

  const WaitResult second = AnswerWait(front);
  if (second != WaitResult::Answered) {
    return Finish(front, second == WaitResult::TimedOut ? DeviceSilent : UpdateInterrupted);
  }
  return Finish(front, AnswerIsOk() ? UpdateDone : SecondAnswerWrong);
}

}  // namespace app
