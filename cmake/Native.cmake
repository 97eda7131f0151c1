# The platform-free code built for Linux under AddressSanitizer and
# UndefinedBehaviorSanitizer, with its tests and libFuzzer targets.
set(sanitizers -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)

# Every platform-free source: nothing here includes a Windows header.
file(GLOB pure_sources CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/src/options/*.cpp
  ${PROJECT_SOURCE_DIR}/src/common/path.cpp
  ${PROJECT_SOURCE_DIR}/src/discovery/version.cpp
  ${PROJECT_SOURCE_DIR}/src/repair/reg_file.cpp
  ${PROJECT_SOURCE_DIR}/src/worker/run_outcome.cpp)
add_library(qex_pure STATIC ${pure_sources})
target_include_directories(qex_pure PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_compile_options(qex_pure PUBLIC -g -O1 ${sanitizers})
target_link_options(qex_pure PUBLIC ${sanitizers})
repair_warnings(qex_pure)

if(NOT BUILD_TESTING)
  return()
endif()

file(GLOB native_tests CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/native/test_*.cpp)
target_compile_options(doctest_main PRIVATE -g -O1 ${sanitizers})
add_executable(native_tests ${native_tests})
target_link_libraries(native_tests PRIVATE doctest_main qex_pure)
repair_warnings(native_tests)
add_test(NAME native_tests COMMAND native_tests)

# Fuzz targets need clang's libFuzzer; each runs for a bounded time under ctest.
set(FUZZ_SECONDS 20 CACHE STRING "Seconds each fuzz target runs under ctest")
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  file(GLOB fuzz_targets CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/fuzz/fuzz_*.cpp)
  foreach(source ${fuzz_targets})
    get_filename_component(name ${source} NAME_WE)
    add_executable(${name} ${source})
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(${name} PRIVATE qex_pure)
    repair_warnings(${name})
    add_test(NAME ${name} COMMAND ${name} -max_total_time=${FUZZ_SECONDS} -max_len=4096 -print_final_stats=1)
  endforeach()
endif()
