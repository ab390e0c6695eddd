# Run with: <build>/bench/judge/bench_traditional [POINTS [ROUNDS]]
add_executable(bench_point_floor ${CMAKE_CURRENT_LIST_DIR}/point_floor.c)
set_target_properties(bench_point_floor PROPERTIES AUTOMOC OFF)
add_executable(bench_traditional ${CMAKE_CURRENT_LIST_DIR}/bench_traditional.cpp)
target_link_libraries(bench_traditional PRIVATE qxj_judge)
target_compile_definitions(bench_traditional PRIVATE QT_NO_CAST_FROM_ASCII
  QXJ_BUILD_DIR="${CMAKE_BINARY_DIR}" QXJ_POINT_FLOOR="$<TARGET_FILE:bench_point_floor>")
add_dependencies(bench_traditional bench_point_floor)
if(TARGET textcmp)
  add_dependencies(bench_traditional textcmp)
endif()
