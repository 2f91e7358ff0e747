# The fuzz build links the libpng that scripts/build-fuzz-libpng builds with
# the fuzzers' own instrumentation: the system's library carries no coverage
# counters and no AddressSanitizer checks, so a fuzzer linked to it would be
# blind to everything past our calls into it.
if(DEFINED ENV{FWUPDATER_CACHE})
  set(fwu_fuzz_libpng "$ENV{FWUPDATER_CACHE}/fuzz-libpng")
elseif(DEFINED ENV{HOME})
  set(fwu_fuzz_libpng "$ENV{HOME}/.cache/fwupdater/fuzz-libpng")
endif()
if(fwu_fuzz_libpng AND EXISTS "${fwu_fuzz_libpng}/lib/libpng16.a" AND EXISTS "${fwu_fuzz_libpng}/include/png.h")
  # Forced, so that a tree configured before the library existed switches too.
  set(PNG_LIBRARY_RELEASE "${fwu_fuzz_libpng}/lib/libpng16.a" CACHE FILEPATH "libpng built for fuzzing" FORCE)
  set(PNG_PNG_INCLUDE_DIR "${fwu_fuzz_libpng}/include" CACHE PATH "libpng built for fuzzing" FORCE)
else()
  message(WARNING "No instrumented libpng in '${fwu_fuzz_libpng}' (scripts/build-fuzz-libpng makes it): "
                  "the fuzzers link the system's libpng and cannot see into it.")
endif()
