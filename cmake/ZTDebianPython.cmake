# Run by CPack before it builds the packages: moves the Python package of the staged python
# component from the build interpreter's folder (lib/python3.11/dist-packages) into Debian's
# folder for Python 3 packages (lib/python3/dist-packages), at the same depth.
file(GLOB_RECURSE staged LIST_DIRECTORIES true "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
string(REGEX REPLACE "([.+])" "\\\\\\1" pattern "/${CPACK_ZTROI_PYTHON_DIR}$")
foreach(dir IN LISTS staged)
    if(NOT IS_DIRECTORY "${dir}" OR NOT dir MATCHES "${pattern}")
        continue()
    endif()
    string(REGEX REPLACE "${pattern}" "/${CPACK_ZTROI_DEBIAN_PYTHON_DIR}" target "${dir}")
    get_filename_component(parent "${target}" DIRECTORY)
    file(MAKE_DIRECTORY "${parent}")
    file(RENAME "${dir}" "${target}")
    # The folder that held it (lib/python3.11) is empty now.
    get_filename_component(old_parent "${dir}" DIRECTORY)
    file(GLOB left "${old_parent}/*")
    if(NOT left)
        file(REMOVE_RECURSE "${old_parent}")
    endif()
endforeach()
