# Installs the console component into a fresh prefix and builds the standalone demo
# against it. Must not pass the source tree's paths to the consumer: only the prefix.
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}")
  endif()
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK_DIR}/prefix --component console)
# The prefix holds the public header and nothing from the source tree's internals.
file(GLOB_RECURSE headers RELATIVE ${WORK_DIR}/prefix/include ${WORK_DIR}/prefix/include/*)
if(NOT headers STREQUAL "sdk/quorvend_console.h")
  message(FATAL_ERROR "installed headers: ${headers}")
endif()
run(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/build -G ${GENERATOR} -DCMAKE_BUILD_TYPE=Release
    -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN} -DCMAKE_PREFIX_PATH=${WORK_DIR}/prefix)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build -j2)
if(NOT EXISTS ${WORK_DIR}/build/console_demo.exe)
  message(FATAL_ERROR "no console_demo.exe in ${WORK_DIR}/build")
endif()
