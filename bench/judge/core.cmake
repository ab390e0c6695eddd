# Run with: <build>/bench/judge/bench_checker [CALLS]
add_executable(bench_trivial_checker ${CMAKE_CURRENT_LIST_DIR}/trivial_checker.cpp)
set_target_properties(bench_trivial_checker PROPERTIES AUTOMOC OFF)
add_executable(bench_checker ${CMAKE_CURRENT_LIST_DIR}/bench_checker.cpp)
target_link_libraries(bench_checker PRIVATE qxj_judge)
target_compile_definitions(bench_checker PRIVATE QT_NO_CAST_FROM_ASCII
  TRIVIAL_CHECKER="$<TARGET_FILE:bench_trivial_checker>")
add_dependencies(bench_checker bench_trivial_checker)
