# Installs the build into WORK_DIR/prefix and analyses PHOTO with the installed package, with
# neither the build tree nor a library path in sight: the extension must find the installed
# library by itself.
set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})

execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix}
    RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE err)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "install failed: ${err}")
endif()

set(ENV{PYTHONPATH} ${prefix}/${PACKAGE_DIR})
unset(ENV{LD_LIBRARY_PATH})
execute_process(
    COMMAND ${PYTHON} -c [[
import sys, ztroi
assert ztroi.__file__.startswith(sys.argv[2]), ztroi.__file__
assert ztroi.Mixer().analyze(sys.argv[1]).shape == (320, 480)
]] ${PHOTO} ${prefix}
    WORKING_DIRECTORY ${WORK_DIR}
    RESULT_VARIABLE result ERROR_VARIABLE err)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "the installed package failed: ${err}")
endif()
message(STATUS "the installed package analysed ${PHOTO}")
