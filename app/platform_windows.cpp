// The Windows (Win32) values of the per-platform choices.
#include "platform.h"

#include "ui/events.h"
#include "win32/event_kind.h"
#include "win32/window_flags.h"

namespace app::platform {

const char ProgramName[] = "fwupdater-win";
const char ProgramVersion[] = "1.0.2";
const rt::RtChar PortPrefix[] = u"COM";  // the serial library adds the device prefix
const rt::RtChar WindowTitle[] = u"Update firmware 1.0.2";
const int32_t MainWindowFlags = rt::WindowFlags::TitleBar | rt::WindowFlags::SystemMenu |
                                rt::WindowFlags::ScreenCentered;
static_assert((rt::WindowFlags::TitleBar | rt::WindowFlags::SystemMenu | rt::WindowFlags::ScreenCentered) ==
              0x00C80001);

const int32_t EventGadget = rt::EventKind::Gadget;
const int32_t EventShortcut = rt::EventKind::Shortcut;
const int32_t EventCloseRequest = rt::EventKind::CloseRequest;

// A Windows write returns once the driver has the byte; the bar moves only
// when its value rises, at most a hundred times a run.
const bool ProgressOnEveryByte = false;
const bool DrainAfterEveryByte = false;
// Without a drain the program writes ahead of the device, so the line's
// buffer is full whenever the device reads slower, and a byte waits its turn
// behind it; a device busy for a moment (writing its flash) leaves the line
// full for longer than a second without being gone. The line counts as gone
// only after refusing a byte as long as the device may take to answer.
const int32_t RefusedByteRetryMs = 5000;

// Blocks in the system's message wait until something arrives.
int32_t NextEvent() { return rt::WindowEventWait(-1); }

}  // namespace app::platform
