# Process runner: limits, outcomes, process trees and the stop protocol.
qxj_test(tst_runner
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_runner.cpp
  LIBS qxj_judge
  TIMEOUT 600)
target_compile_definitions(tst_runner PRIVATE
  QXJ_PROGRAMS_DIR="${CMAKE_BINARY_DIR}/tests/programs")
get_property(qxj_runner_programs GLOBAL PROPERTY QXJ_PROGRAMS)
if(qxj_runner_programs)
  add_dependencies(tst_runner ${qxj_runner_programs})
endif()
