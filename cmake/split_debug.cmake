# kelvane_split_debug(<target>): after every link, the target's debug information and
# symbols move to <file>.debug beside it and the program keeps only a link to that file
# (.gnu_debuglink), so what is shipped is small and a debugger still finds the symbols. Does nothing where
# the toolchain has no objcopy (MSVC keeps its symbols in a .pdb anyway).
function(kelvane_split_debug target)
  if(MSVC OR NOT CMAKE_OBJCOPY)
    return()
  endif()
  set(file $<TARGET_FILE:${target}>)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug ${file} ${file}.debug
    COMMAND ${CMAKE_OBJCOPY} --strip-all --add-gnu-debuglink=${file}.debug ${file}
    COMMENT "Keeping the debug information of ${target} beside it"
    VERBATIM)
endfunction()
