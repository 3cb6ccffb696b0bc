# From the native build: cross-build the Windows half and register the tests that run it under Wine.
option(LAUNCHER_WINDOWS_TESTS "Cross-build for Windows and run the Wine tests" ON)
if(NOT LAUNCHER_WINDOWS_TESTS)
  return()
endif()

include(ExternalProject)
# The publisher key pair of the signed test program, made by the native publisher tool in the build tree (never
# committed). The Windows build compiles its public half into bin/signed/Launcher.exe; the tests sign with the other.
set(TEST_KEY ${PROJECT_BINARY_DIR}/test-keys/publisher)
add_custom_command(OUTPUT ${TEST_KEY}.pub ${TEST_KEY}.key
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/test-keys
  COMMAND ${CMAKE_COMMAND} -E rm -f ${TEST_KEY}.pub ${TEST_KEY}.key
  COMMAND publish_manifest --make-key ${TEST_KEY}
  COMMENT "Making the test publisher key pair")
add_custom_target(test_publisher_key DEPENDS ${TEST_KEY}.pub)

# The product: the 32-bit program, always built.
# Each Windows build is configured from its preset, pointed at the test server.
# The programs with several list hosts ask the test host, then the same port on 127.0.0.2.
if(LAUNCHER_TEST_HOST MATCHES ":([0-9]+)$")
  set(TEST_LIST_HOSTS "${LAUNCHER_TEST_HOST},127.0.0.2:${CMAKE_MATCH_1}")
else()
  set(TEST_LIST_HOSTS "${LAUNCHER_TEST_HOST},127.0.0.2")
endif()
ExternalProject_Add(windows_i686
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${PROJECT_BINARY_DIR}/windows-i686
  CONFIGURE_COMMAND ${CMAKE_COMMAND} --preset windows-i686 -S <SOURCE_DIR> -B <BINARY_DIR>
    -DLAUNCHER_UPDATE_HOST=${LAUNCHER_TEST_HOST}
    -DLAUNCHER_TEST_LIST_HOSTS=${TEST_LIST_HOSTS}
    -DLAUNCHER_TIMEOUT_SECONDS=${LAUNCHER_TEST_TIMEOUT_SECONDS}
    -DLAUNCHER_LIST_FIRST_BYTE_MS=${LAUNCHER_TEST_LIST_FIRST_BYTE_MS}
    -DLAUNCHER_TEST_MANIFEST_KEY=${TEST_KEY}.pub
  DEPENDS test_publisher_key
  BUILD_ALWAYS ON
  INSTALL_COMMAND ""
  USES_TERMINAL_BUILD ON)

# Where the kernel cannot start 32-bit programs, Wine cannot run the 32-bit build either; the
# Windows tests then run a 64-bit build of the same sources.
execute_process(COMMAND bash ${PROJECT_SOURCE_DIR}/tools/wine.sh --can-run-32 RESULT_VARIABLE CAN_RUN_32)
if(CAN_RUN_32 EQUAL 0)
  set(WINDOWS_BUILD_DIR ${PROJECT_BINARY_DIR}/windows-i686)
else()
  message(STATUS "This machine cannot run 32-bit programs: the Windows tests run the 64-bit build")
  set(WINDOWS_BUILD_DIR ${PROJECT_BINARY_DIR}/windows-x86_64)
  ExternalProject_Add(windows_x86_64
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${WINDOWS_BUILD_DIR}
    CONFIGURE_COMMAND ${CMAKE_COMMAND} --preset windows-x86_64 -S <SOURCE_DIR> -B <BINARY_DIR>
      -DLAUNCHER_UPDATE_HOST=${LAUNCHER_TEST_HOST}
      -DLAUNCHER_TEST_LIST_HOSTS=${TEST_LIST_HOSTS}
    -DLAUNCHER_TIMEOUT_SECONDS=${LAUNCHER_TEST_TIMEOUT_SECONDS}
    -DLAUNCHER_LIST_FIRST_BYTE_MS=${LAUNCHER_TEST_LIST_FIRST_BYTE_MS}
      -DLAUNCHER_TEST_MANIFEST_KEY=${TEST_KEY}.pub
    DEPENDS test_publisher_key
    BUILD_ALWAYS ON
    INSTALL_COMMAND ""
    USES_TERMINAL_BUILD ON)
endif()

# The shipped program is a 32-bit GUI program that needs no MinGW DLL and carries its resources.
add_test(NAME product.pe_check COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/e2e/check_pe.py
  ${PROJECT_BINARY_DIR}/windows-i686/bin/Launcher.exe)

set(WINE_TEMPLATE_PREFIX ${PROJECT_BINARY_DIR}/wine-template)
set(E2E_ENV
  "LAUNCHER_BIN_DIR=${WINDOWS_BUILD_DIR}/bin"
  "LAUNCHER_NATIVE_BIN_DIR=${PROJECT_BINARY_DIR}/bin"
  "LAUNCHER_TEST_KEY=${TEST_KEY}.key"
  "LAUNCHER_TEST_HOST=${LAUNCHER_TEST_HOST}"
  "LAUNCHER_TEST_TIMEOUT_SECONDS=${LAUNCHER_TEST_TIMEOUT_SECONDS}"
  "WINE_TEMPLATE_PREFIX=${WINE_TEMPLATE_PREFIX}"
  "LAUNCHER_WORK_DIR=${PROJECT_BINARY_DIR}/e2e-work")

# One prepared Wine prefix, copied by every test that runs a Windows program.
add_test(NAME wine.prefix COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/e2e/prepare_prefix.py)
set_tests_properties(wine.prefix PROPERTIES FIXTURES_SETUP wine_prefix ENVIRONMENT "${E2E_ENV}" TIMEOUT 300)

add_test(NAME wine.unit_tests COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/e2e/run_wine.py unit_tests.exe)
add_test(NAME wine.win_tests COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/e2e/run_wine.py win_tests.exe)
set_tests_properties(wine.unit_tests wine.win_tests PROPERTIES
  FIXTURES_REQUIRED wine_prefix ENVIRONMENT "${E2E_ENV}" TIMEOUT 600)

file(GLOB E2E_TESTS CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/e2e/test_*.py)
foreach(test_file ${E2E_TESTS})
  get_filename_component(test_name ${test_file} NAME_WE)
  add_test(NAME e2e.${test_name} COMMAND python3 ${test_file})
  # The test build's update server port is fixed, so tests that serve it take turns.
  set_tests_properties(e2e.${test_name} PROPERTIES
    FIXTURES_REQUIRED wine_prefix RESOURCE_LOCK update_server ENVIRONMENT "${E2E_ENV}" TIMEOUT 900)
endforeach()
