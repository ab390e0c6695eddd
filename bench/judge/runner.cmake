# Run with: <build>/bench/judge/bench_runner [RUNS]
add_executable(bench_runner ${CMAKE_CURRENT_LIST_DIR}/bench_runner.cpp)
target_link_libraries(bench_runner PRIVATE qxj_judge)
target_compile_definitions(bench_runner PRIVATE QT_NO_CAST_FROM_ASCII
  QXJ_PROGRAMS_DIR="${CMAKE_BINARY_DIR}/tests/programs")
get_property(qxj_bench_programs GLOBAL PROPERTY QXJ_PROGRAMS)
if(qxj_bench_programs)
  add_dependencies(bench_runner ${qxj_bench_programs})
endif()
