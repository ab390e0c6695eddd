# Run with: <build>/bench/judge/bench_traditional [POINTS]
add_executable(bench_traditional ${CMAKE_CURRENT_LIST_DIR}/bench_traditional.cpp)
target_link_libraries(bench_traditional PRIVATE qxj_judge)
target_compile_definitions(bench_traditional PRIVATE QT_NO_CAST_FROM_ASCII
  QXJ_BUILD_DIR="${CMAKE_BINARY_DIR}")
if(TARGET textcmp)
  add_dependencies(bench_traditional textcmp)
endif()
