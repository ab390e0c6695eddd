# A shard's lock, calibration, scratch folder and record.
qxj_test(tst_shardsession
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_shardsession.cpp
  LIBS qxj_judge)
target_include_directories(tst_shardsession PRIVATE ${PROJECT_SOURCE_DIR}/tests/store)
target_compile_definitions(tst_shardsession PRIVATE
  QXJ_CALIBRATE="$<TARGET_FILE:qxj-calibrate>"
  QXJ_PROGRAMS_DIR="${CMAKE_BINARY_DIR}/tests/programs")
add_dependencies(tst_shardsession qxj-calibrate qxjprog_trivial qxjprog_segv qxjprog_exit3 qxjprog_hog100)
