// Shared helpers of the window and event tests.
#pragma once

#include "qt_events.h"
#include "watchdog.h"

namespace qtw {

using fwu_test::Contains;
using fwu_test::Event;
using fwu_test::Settle;
using fwu_test::TakeAll;
using fwu_test::TakeKinds;
using fwu_test::ThreadCpuNanoseconds;
using fwu_test::Watchdog;

}  // namespace qtw
