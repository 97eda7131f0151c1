# The program is ANSI (the "A" functions) and targets Windows XP and later.
add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0501 _CRT_SECURE_NO_WARNINGS)
if(MSVC)
  # Static runtime, like the MinGW build: nothing to install beside the program.
  set(CMAKE_MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")
endif()
if(MINGW)
  # Reproducible output: two builds of one commit, in any folders, give the
  # same bytes. ld stamps the link time into the PE header unless told not
  # to; the folders of the sources and the build tree would reach the output
  # through __FILE__ (assertions) and debug information.
  add_link_options(-Wl,--no-insert-timestamp)
  add_compile_options("$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${PROJECT_SOURCE_DIR}=.>"
                      "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${PROJECT_BINARY_DIR}=build>")
endif()

# Every executable and module lands in one folder, so tests find fixtures beside themselves.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

# A static library per subsystem; its sources are the .cpp files of its folder.
function(repair_subsystem name dir)
  file(GLOB sources CONFIGURE_DEPENDS ${dir}/*.cpp)
  if(NOT sources)
    # A subsystem with headers only so far.
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} INTERFACE ${ARGN})
    return()
  endif()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  repair_warnings(${name})
  target_link_libraries(${name} PUBLIC ${ARGN})
endfunction()
