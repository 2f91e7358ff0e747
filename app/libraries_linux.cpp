// Start-up order of the Linux program: the Qt application object first, then
// keyed maps, events, images, windows, gadgets, arrays, files, threads and
// serial ports. Shut-down runs the ends in reverse: serial ports, threads,
// files, windows, images.
#include "libraries.h"

#include <iterator>

#include "core/keyed_map.h"
#include "qt/gadget.h"
#include "qt/qt_base.h"
#include "qt/wait_window_event.h"
#include "qt/windows.h"
#include "runtime_api.h"

namespace app {

namespace {

const rt::RuntimeLibrary kLibraries[] = {
    {"application", rt::ApplicationStart, nullptr, nullptr},
    {"keyed maps", rt::KeyedMapSupportStart, nullptr, nullptr},
    {"events", rt::EventQueueStart, nullptr, nullptr},
    {"images", rt::ImageLibraryStart, rt::ImageLibraryEnd, nullptr},
    {"windows", rt::WindowLibraryStart, rt::WindowLibraryEnd, nullptr},
    {"gadgets", rt::GadgetLibraryStart, rt::GadgetLibraryEnd, nullptr},
    {"arrays", rt::ArrayLibraryStart, nullptr, nullptr},
    {"files", rt::FileLibraryStart, rt::FileLibraryEnd, nullptr},
    {"threads", rt::ThreadLibraryStart, rt::ThreadLibraryEnd, nullptr},
    {"serial ports", rt::SerialLibraryStart, rt::SerialLibraryEnd, rt::SerialLibraryAbandon},
};

const rt::RuntimeLibrary kConsoleLibraries[] = {
    {"keyed maps", rt::KeyedMapSupportStart, nullptr, nullptr},
    {"arrays", rt::ArrayLibraryStart, nullptr, nullptr},
    {"files", rt::FileLibraryStart, rt::FileLibraryEnd, nullptr},
    {"threads", rt::ThreadLibraryStart, rt::ThreadLibraryEnd, nullptr},
    {"serial ports", rt::SerialLibraryStart, rt::SerialLibraryEnd, rt::SerialLibraryAbandon},
};

}  // namespace

const rt::RuntimeLibrary* RuntimeLibraries(size_t* count) {
  *count = std::size(kLibraries);
  return kLibraries;
}

const rt::RuntimeLibrary* ConsoleLibraries(size_t* count) {
  *count = std::size(kConsoleLibraries);
  return kConsoleLibraries;
}

}  // namespace app
