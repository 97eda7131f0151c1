# doctest is header-only. Only its own folder goes on the include path: a
# system folder such as /usr/include would leak glibc headers into the MinGW
# build. The cross build looks on the build machine too (FIND_ROOT_PATH_BOTH).
find_path(DOCTEST_INCLUDE_DIR doctest.h PATH_SUFFIXES doctest CMAKE_FIND_ROOT_PATH_BOTH
  DOC "Folder holding doctest.h")
if(NOT DOCTEST_INCLUDE_DIR)
  message(FATAL_ERROR "doctest.h not found: install doctest (Debian: doctest-dev), "
                      "set DOCTEST_INCLUDE_DIR, or configure with -DBUILD_TESTING=OFF")
endif()

# The test runner's main, compiled once and linked into every test executable.
add_library(doctest_main OBJECT ${PROJECT_SOURCE_DIR}/tests/support/doctest_main.cpp)
target_include_directories(doctest_main SYSTEM PUBLIC ${DOCTEST_INCLUDE_DIR})
