# libFuzzer builds of the parsers (tools/test.sh --fuzz, in build-fuzz/).
#
# QUARN_FUZZ=ON needs clang. Every library is then built with coverage
# instrumentation, AddressSanitizer and UndefinedBehaviorSanitizer (no
# recovery), so that libFuzzer sees into the code it feeds, and the fuzz
# targets of tests/fuzz are added. The default build is unchanged.

option(QUARN_FUZZ "Build the libFuzzer targets (clang only)" OFF)

if(QUARN_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "QUARN_FUZZ needs clang (CXX=clang++), not ${CMAKE_CXX_COMPILER_ID}")
  endif()
  if(QUARN_SANITIZE)
    message(FATAL_ERROR "QUARN_FUZZ brings its own sanitizers: leave QUARN_SANITIZE empty")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
