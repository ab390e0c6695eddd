qxj_test(tst_traditional
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_traditional.cpp ${CMAKE_CURRENT_LIST_DIR}/traditionalsite.h
    ${CMAKE_CURRENT_LIST_DIR}/traditional_compile.cpp ${CMAKE_CURRENT_LIST_DIR}/traditional_points.cpp
    ${CMAKE_CURRENT_LIST_DIR}/traditional_cleanup.cpp
  LIBS qxj_judge
  TIMEOUT 600)
# The judge finds its default checker as "checker/全文比较" in the working directory.
target_compile_definitions(tst_traditional PRIVATE QXJ_BUILD_DIR="${CMAKE_BINARY_DIR}")
if(TARGET textcmp)
  add_dependencies(tst_traditional textcmp)
endif()
# The store tests' file helpers are shared.
target_include_directories(tst_traditional PRIVATE ${PROJECT_SOURCE_DIR}/tests/store)
