// The Linux (Qt) values of the per-platform choices.
#include "platform.h"

#include "qt/event_kind.h"
#include "qt/wait_window_event.h"
#include "qt/windows.h"

namespace app::platform {

const char ProgramName[] = "fwupdater";
const char ProgramVersion[] = "1.0.1";
const rt::RtChar PortPrefix[] = u"/dev/ttyUSB";
const rt::RtChar WindowTitle[] = u"Update firmware 1.0.1";
const int32_t MainWindowFlags = rt::WindowFlags::SystemMenu | rt::WindowFlags::TitleBar |
                                rt::WindowFlags::ScreenCentered | rt::WindowFlags::WindowCentered;  // 0x14C
static_assert((rt::WindowFlags::SystemMenu | rt::WindowFlags::TitleBar | rt::WindowFlags::ScreenCentered |
               rt::WindowFlags::WindowCentered) == 0x14C);

const int32_t EventGadget = rt::EventKind::Gadget;
const int32_t EventShortcut = rt::EventKind::Shortcut;
const int32_t EventCloseRequest = rt::EventKind::CloseRequest;

const bool ProgressOnEveryByte = true;
const bool DrainAfterEveryByte = true;
// With the drain the driver's queue is nearly empty before every byte, but
// an adapter (or a pseudo-terminal) that reports an empty queue while it
// still holds data lets the program write ahead, and a device busy for a
// moment then leaves the line full for a second or more without being gone.
// An unplugged adapter fails every write instead and costs this once.
const int32_t RefusedByteRetryMs = 5000;

// Blocks until an event is queued: polling with a zero time-out would keep a
// core busy while the window sits idle.
int32_t NextEvent() { return rt::WindowEventWait(-1); }

}  // namespace app::platform
