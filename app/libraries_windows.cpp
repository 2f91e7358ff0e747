// Start-up order of the Windows program, after the program heap and the
// string workspace that the frame makes first: images, keyed maps, events
// (with the post-event window), files, windows, gadgets, requesters, serial
// ports and threads. Shut-down runs the ends in reverse: threads, serial
// ports, gadgets, windows, files, events, images. A command-line run starts
// only keyed maps, files, serial ports and threads.
#include "libraries.h"

#include <iterator>

#include "core/keyed_map.h"
#include "runtime_api.h"
#include "win32/events.h"
#include "win32/gadget.h"
#include "win32/requesters.h"
#include "win32/windows.h"

namespace app {

namespace {

const rt::RuntimeLibrary kLibraries[] = {
    {"images", rt::ImageLibraryStart, rt::ImageLibraryEnd, nullptr},
    {"keyed maps", rt::KeyedMapSupportStart, nullptr, nullptr},
    {"events", rt::EventQueueStart, rt::EventQueueEnd, nullptr},
    {"files", rt::FileLibraryStart, rt::FileLibraryEnd, nullptr},
    {"windows", rt::WindowLibraryStart, rt::WindowLibraryEnd, nullptr},
    {"gadgets", rt::GadgetLibraryStart, rt::GadgetLibraryEnd, nullptr},
    {"requesters", rt::RequesterLibraryStart, nullptr, nullptr},
    {"serial ports", rt::SerialLibraryStart, rt::SerialLibraryEnd, rt::SerialLibraryAbandon},
    {"threads", rt::ThreadLibraryStart, rt::ThreadLibraryEnd, nullptr},
};

const rt::RuntimeLibrary kConsoleLibraries[] = {
    {"keyed maps", rt::KeyedMapSupportStart, nullptr, nullptr},
    {"files", rt::FileLibraryStart, rt::FileLibraryEnd, nullptr},
    {"serial ports", rt::SerialLibraryStart, rt::SerialLibraryEnd, rt::SerialLibraryAbandon},
    {"threads", rt::ThreadLibraryStart, rt::ThreadLibraryEnd, nullptr},
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
