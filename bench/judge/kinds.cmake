# Run with: <build>/bench/judge/bench_kinds [POINTS] [ROUNDS]
add_executable(bench_kinds ${CMAKE_CURRENT_LIST_DIR}/bench_kinds.cpp)
target_link_libraries(bench_kinds PRIVATE qxj_judge)
target_compile_definitions(bench_kinds PRIVATE QT_NO_CAST_FROM_ASCII
  QXJ_BUILD_DIR="${CMAKE_BINARY_DIR}" QXJ_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
if(TARGET textcmp)
  add_dependencies(bench_kinds textcmp)
endif()
