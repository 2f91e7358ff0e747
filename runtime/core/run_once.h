// The run-once of systems without one of their own: a compare-exchange of
// the state word from 0 to 1 elects the caller that runs the routine, which
// then stores 2; every other caller yields until it sees 2.
#pragma once

#include "core/platform.h"

namespace rt {

void RunOnceInterlocked(platform::OnceState* state, void (*routine)());

}  // namespace rt
