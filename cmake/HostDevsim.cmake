# The device simulator for a cross build: the Windows programs run under Wine
# on this machine, and their COM ports are pseudo-terminals that the
# simulator, a native program, plays the device on. A nested build with the
# host's compiler; FWU_HOST_DEVSIM is its program, target fwu_host_devsim
# builds it.
include_guard(GLOBAL)
include(ExternalProject)

# Cached, so every folder that includes this module sees it, not only the first.
set(FWU_HOST_DEVSIM ${CMAKE_BINARY_DIR}/host-devsim/fwu-devsim CACHE INTERNAL "the device simulator for this machine")
ExternalProject_Add(fwu_host_devsim
  SOURCE_DIR ${PROJECT_SOURCE_DIR}/cmake/host-devsim
  BINARY_DIR ${CMAKE_BINARY_DIR}/host-devsim
  CMAKE_ARGS
    -DCMAKE_BUILD_TYPE=Release
    -DCMAKE_CXX_COMPILER=c++
    -DCMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER}
    -DFWU_SOURCE_DIR=${PROJECT_SOURCE_DIR}
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON
  BUILD_BYPRODUCTS ${FWU_HOST_DEVSIM}
  EXCLUDE_FROM_ALL ON)
