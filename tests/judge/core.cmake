# Judge thread, checker contract, detail rows and grid items.
qxj_test(tst_viewinfo SOURCES tst_viewinfo.cpp LIBS qxj_judge)
qxj_test(tst_gridcells SOURCES tst_gridcells.cpp LIBS qxj_judge)
qxj_test(tst_checker SOURCES tst_checker.cpp checkerfixture.h LIBS qxj_judge TIMEOUT 300)
qxj_test(tst_testcore SOURCES tst_testcore.cpp testcore_slots.cpp testcorefixture.h checkerfixture.h
  LIBS qxj_judge TIMEOUT 300)
target_include_directories(tst_testcore PRIVATE ${PROJECT_SOURCE_DIR}/tests/store)
