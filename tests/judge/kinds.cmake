# Problem kinds beyond the traditional one: testlib checkers, graders,
# standard streams, interactors.
foreach(name tst_problemkinds tst_interactive)
  qxj_test(${name}
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/${name}.cpp ${CMAKE_CURRENT_LIST_DIR}/problemsite.h
    LIBS qxj_judge
    TIMEOUT 600)
  # The judge finds its default checker as "checker/全文比较" in the working directory.
  target_compile_definitions(${name} PRIVATE QXJ_BUILD_DIR="${CMAKE_BINARY_DIR}")
  if(TARGET textcmp)
    add_dependencies(${name} textcmp)
  endif()
  # Our stand-in for testlib.h and our interactor are read from the source tree.
  target_compile_definitions(${name} PRIVATE QXJ_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
endforeach()
