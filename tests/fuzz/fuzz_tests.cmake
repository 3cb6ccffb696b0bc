# From the native build: the libFuzzer targets of tests/fuzz, built with clang where clang can link libFuzzer,
# and one test per target that fuzzes it for 30 seconds from the seed corpus kept beside it.
find_program(FUZZ_CLANGXX NAMES clang++ clang++-14)
if(NOT FUZZ_CLANGXX)
  message(STATUS "No clang++: the fuzz tests are not registered (tools/setup.sh installs clang)")
  return()
endif()
set(FUZZ_PROBE ${PROJECT_BINARY_DIR}/fuzz-probe.cpp)
file(WRITE ${FUZZ_PROBE}
  "#include <stddef.h>\n#include <stdint.h>\nextern \"C\" int LLVMFuzzerTestOneInput(const uint8_t*, size_t) { return 0; }\n")
execute_process(COMMAND ${FUZZ_CLANGXX} -fsanitize=fuzzer,address,undefined ${FUZZ_PROBE} -o ${FUZZ_PROBE}.out
  RESULT_VARIABLE FUZZ_PROBE_RESULT OUTPUT_QUIET ERROR_QUIET)
if(NOT FUZZ_PROBE_RESULT EQUAL 0)
  message(STATUS "clang++ cannot link libFuzzer: the fuzz tests are not registered (tools/setup.sh installs it)")
  return()
endif()

include(ExternalProject)
ExternalProject_Add(fuzzers
  SOURCE_DIR ${CMAKE_CURRENT_LIST_DIR}
  BINARY_DIR ${PROJECT_BINARY_DIR}/fuzz
  CMAKE_ARGS -DCMAKE_CXX_COMPILER=${FUZZ_CLANGXX} -DCMAKE_BUILD_TYPE=RelWithDebInfo
  BUILD_ALWAYS ON
  INSTALL_COMMAND "")

foreach(name manifest settings headers block_index multipart)
  # New inputs go to a corpus folder in the build; the seed corpus in the repository is only read.
  add_test(NAME fuzz.${name}
    COMMAND sh -c "mkdir -p \"$1\" && exec \"$0\" -max_total_time=30 -print_final_stats=1 -artifact_prefix=\"$1/../\" \"$1\" \"$2\""
      ${PROJECT_BINARY_DIR}/fuzz/${name}_fuzz ${PROJECT_BINARY_DIR}/fuzz-corpus/${name}
      ${CMAKE_CURRENT_LIST_DIR}/corpus/${name})
  set_tests_properties(fuzz.${name} PROPERTIES TIMEOUT 180)
endforeach()
