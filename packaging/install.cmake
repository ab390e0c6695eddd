# The desktop entry, the icon theme's pictures and the Debian package.
# Included last from the top CMakeLists.txt, so that `cpack -G DEB` runs
# from the build directory.

install(FILES ${CMAKE_CURRENT_LIST_DIR}/qxj.desktop DESTINATION share/applications)
# Drawn at each size by resources/draw; 128 is the About box's picture.
foreach(icon 16:T4-16.png 32:T4-32.png 48:T4-48.png 128:T4_2.png 256:T4-256.png)
  string(REPLACE ":" ";" icon ${icon})
  list(GET icon 0 size)
  list(GET icon 1 file)
  install(FILES ${PROJECT_SOURCE_DIR}/resources/icon/${file}
    DESTINATION share/icons/hicolor/${size}x${size}/apps RENAME qxj.png)
endforeach()

set(QXJ_PACKAGE_MAINTAINER "QXJ 开发组 <qxj-dev@example.org>"
  CACHE STRING "The Maintainer line of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qxj)
set(CPACK_PACKAGE_VENDOR "QXJ 开发组")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "judge for programming contests held on one machine")
set(CPACK_PACKAGE_DESCRIPTION
  "QXJ 测评器 compiles every contestant's source of a contest folder (data/ with
the problems, src/ with one folder per contestant), runs it on every test
point under a CPU-time and a memory limit, has a checker compare its output
with the answer and scores each subtask by its weakest point.

It keeps one result per contestant and problem, an HTML report per
contestant and a CSV score table, and shows the contest's statistics with
charts and the pairs of contestants' sources that are alike. qxj is the
window, a grid of contestants and problems; qxj-judge judges a contest
folder from a terminal.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QXJ_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION education)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt loads its platform plugin and its translation (Chinese file dialogs and
# buttons) at run time, out of dpkg-shlibdeps' sight; the similarity report
# runs sim_c, sim_c++ and sim_pasc as programs.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, qt6-translations-l10n, similarity-tester")
# The compilers the contests' languages need, and the font the window's
# Chinese text is drawn in.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "g++, fp-compiler, fonts-noto-cjk")
set(CPACK_STRIP_FILES ON)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/cpackproject.cmake)
include(CPack)
