# The registration benchmark's Windows side (run by scripts/bench-registration).
add_executable(bench_registration ${CMAKE_CURRENT_LIST_DIR}/bench_registration.cpp)
target_link_libraries(bench_registration PRIVATE qex_repair shlwapi)
repair_warnings(bench_registration)
add_dependencies(bench_registration com_server)
