# Run with: <build>/bench/judge/bench_parallel   (about five minutes on 2 cores)
add_executable(bench_parallel ${CMAKE_CURRENT_LIST_DIR}/bench_parallel.cpp)
target_link_libraries(bench_parallel PRIVATE qxj_judge Qt6::Test)
target_include_directories(bench_parallel PRIVATE
  ${PROJECT_SOURCE_DIR}/tests/cli ${PROJECT_SOURCE_DIR}/tests/store)
target_compile_definitions(bench_parallel PRIVATE QT_NO_CAST_FROM_ASCII
  QXJ_BUILD_DIR="${CMAKE_BINARY_DIR}"
  QXJ_SAMPLE="${PROJECT_SOURCE_DIR}/examples/contest"
  QXJ_PROGRAMS="${CMAKE_CURRENT_LIST_DIR}/parallel")
if(TARGET textcmp)
  add_dependencies(bench_parallel textcmp)
endif()
