# -Wall -Wextra everywhere (g++, clang and mingw-w64); the presets turn on
# -Werror so that a warning fails the build.
add_compile_options(-Wall -Wextra)
if(FWU_WERROR)
  add_compile_options(-Werror)
endif()
