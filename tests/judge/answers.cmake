qxj_test(tst_htmlreport SOURCES tst_htmlreport.cpp LIBS qxj_judge)

qxj_test(tst_answers SOURCES tst_answers.cpp answers_cleanup.cpp answersfixture.h LIBS qxj_judge)
# The judge finds shared checkers in "checker/" under its working directory.
target_compile_definitions(tst_answers PRIVATE QXJ_BUILD_DIR="${CMAKE_BINARY_DIR}")
if(TARGET textcmp)
  add_dependencies(tst_answers textcmp)
endif()
