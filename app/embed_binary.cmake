# Turns a binary file into a C++ source file holding it as a byte array:
#   cmake -DINPUT=file -DOUTPUT=file.cpp -DSYMBOL=Name -DNAMESPACE=ns -P embed_binary.cmake
# The array is followed by its size, so nothing relies on a terminator.
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR size "${hex_length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
# Sixteen bytes per line keeps the generated file readable in a debugger.
string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n  " bytes "${bytes}")
get_filename_component(name "${INPUT}" NAME)
file(WRITE "${OUTPUT}.tmp"
"// Generated from ${name} at build time; do not edit.
#include <cstddef>
#include <cstdint>

namespace ${NAMESPACE} {
extern const uint8_t ${SYMBOL}[];
extern const size_t ${SYMBOL}Size;
alignas(16) const uint8_t ${SYMBOL}[] = {
  ${bytes}
};
const size_t ${SYMBOL}Size = ${size};
}  // namespace ${NAMESPACE}
")
# Only touch the output when it changed, so an unchanged asset rebuilds nothing.
execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different "${OUTPUT}.tmp" "${OUTPUT}")
file(REMOVE "${OUTPUT}.tmp")
