# Installs the build into WORK_DIR/prefix and checks what README.md promises of an installed
# tree: the installed ztroi starts without LD_LIBRARY_PATH, and the minimal host of README.md
# (this folder's main.cpp, verbatim) builds through find_package with this folder's
# CMakeLists.txt and through pkg-config, and runs without LD_LIBRARY_PATH on a photograph.
# LIBRARY_NAME is the build's package name: ZTRegionOfInterest, or ZTRegionOfInterest-qt6 for a
# Qt 6 build, whose host asks for that package as README.md says.
set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
unset(ENV{LD_LIBRARY_PATH})

function(run_step output_variable)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "failed (${result}): ${ARGN}\n${out}\n${err}")
    endif()
    set(${output_variable} "${out}" PARENT_SCOPE)
endfunction()

file(READ ${SOURCE_DIR}/README.md readme)
foreach(file main.cpp CMakeLists.txt)
    file(READ ${CONSUMER_DIR}/${file} text)
    string(FIND "${readme}" "${text}" position)
    if(position EQUAL -1)
        message(FATAL_ERROR "README.md does not show ${CONSUMER_DIR}/${file} as it is")
    endif()
endforeach()

# The host's project: this folder's, with the package name of this build.
set(host_dir ${WORK_DIR}/host)
file(READ ${CONSUMER_DIR}/CMakeLists.txt host_project)
string(REPLACE "find_package(ZTRegionOfInterest " "find_package(${LIBRARY_NAME} "
    host_project "${host_project}")
file(WRITE ${host_dir}/CMakeLists.txt "${host_project}")
file(COPY ${CONSUMER_DIR}/main.cpp DESTINATION ${host_dir})

run_step(ignored ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
if(TOOL)
    run_step(version ${prefix}/bin/ztroi --version)
    message(STATUS "installed ztroi: ${version}")
endif()

# find_package, with the prefix on CMAKE_PREFIX_PATH as README.md says.
run_step(ignored ${CMAKE_COMMAND} -S ${host_dir} -B ${WORK_DIR}/build
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_COMPILER=${CXX_COMPILER}
    "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}" -DCMAKE_BUILD_TYPE=Release)
run_step(ignored ${CMAKE_COMMAND} --build ${WORK_DIR}/build)

# pkg-config, with -fPIC and the library folder as run path, as README.md says.
file(GLOB_RECURSE pc_file ${prefix}/*/${LIBRARY_NAME}.pc)
get_filename_component(pc_dir ${pc_file} DIRECTORY)
set(ENV{PKG_CONFIG_PATH} ${pc_dir})
run_step(pc_flags pkg-config --cflags --libs ${LIBRARY_NAME})
run_step(libdir pkg-config --variable=libdir ${LIBRARY_NAME})
separate_arguments(pc_flags UNIX_COMMAND "${pc_flags}")
separate_arguments(extra_flags UNIX_COMMAND "${CXX_FLAGS}")
string(STRIP "${libdir}" libdir)
run_step(ignored ${CXX_COMPILER} ${extra_flags} -std=c++17 -fPIC ${CONSUMER_DIR}/main.cpp
    -o ${WORK_DIR}/myhost-pkgconfig ${pc_flags} -Wl,-rpath,${libdir})

set(photo ${SOURCE_DIR}/samples/coffee.jpg)
run_step(by_cmake ${WORK_DIR}/build/myhost ${photo})
run_step(by_pkgconfig ${WORK_DIR}/myhost-pkgconfig ${photo})
if(NOT by_cmake MATCHES
        "600x400 pixels, salience map 320x213\nfocal point: [0-9]+,[0-9]+\n16:9 crop: 592x333 at 4,[0-9]+, keeping [0-9]+% of the salience\n$"
        OR NOT by_cmake STREQUAL by_pkgconfig)
    message(FATAL_ERROR "unexpected output:\n${by_cmake}\n${by_pkgconfig}")
endif()
message(STATUS "both hosts built and ran:\n${by_cmake}")
