# Resource scripts in the Windows trees. GNU windres upper-cases the class named in a
# dialog's CONTROL statement, where Microsoft's rc keeps it as written; each script is
# therefore compiled to a .res, the classes' case put back (tools/windres_class_case.py),
# and the .res turned into the object that is linked. Enabled here, at the top, so that
# every directory's resource scripts get the same rule.
if(WIN32 AND NOT KV_FUZZ)
  enable_language(RC)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  set(CMAKE_RC_COMPILE_OBJECT
    "<CMAKE_RC_COMPILER> -O res <DEFINES> <INCLUDES> <FLAGS> <SOURCE> <OBJECT>.res"
    "${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tools/windres_class_case.py <SOURCE> <OBJECT>.res"
    "<CMAKE_RC_COMPILER> -O coff <OBJECT>.res <OBJECT>")
endif()
