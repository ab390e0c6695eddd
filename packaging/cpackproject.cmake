# Read by cpack before it packs.
# CPackDeb learns which files are programs from `file`, whose output under
# LC_ALL=C writes the bytes of checker/全文比较's name as octal escapes, a
# name dpkg-shlibdeps then cannot open; --raw leaves them as they are.
find_program(QXJ_FILE_PROGRAM file)
if(QXJ_FILE_PROGRAM)
  set(FILE_EXECUTABLE "${QXJ_FILE_PROGRAM};--raw")
endif()
