# Install components and Debian packages.
#
# Every install() rule names one of these components, and `cpack -G DEB` in the build folder
# turns each into a package:
#   runtime      libztregionofinterest0     the shared library
#   development  libztregionofinterest-dev  headers, CMake package, pkg-config file, .so link
#   tool         ztroi                      the program, its man page and bash completion
#   faces        ztroi-faces                ztroi's face detection module, built only where
#                                           OpenCV is found, with the neural detector's model
#                                           where scripts/fetch-face-model fetched it; a package
#                                           of its own, so that ztroi itself does not depend on
#                                           OpenCV
#   python       python3-ztroi              the Python package ztroi, built where Python,
#                                           NumPy and pybind11 are found; Debian's folder for
#                                           Python 3 packages (/usr/lib/python3/dist-packages)
#                                           receives it
#
# A Qt 6 build (ZTROI_QT_MAJOR=6) names its packages with -qt6 (libztregionofinterest-qt6-0,
# libztregionofinterest-qt6-dev, ztroi-qt6, ztroi-qt6-faces, python3-ztroi-qt6). The library and development
# packages of both builds install side by side. ztroi and its face module install the same
# files from either build, so ztroi-qt6 conflicts with ztroi (and ztroi-qt6-faces with
# ztroi-faces, python3-ztroi-qt6 with python3-ztroi): one ztroi per system, on either Qt.

set(ZTROI_PACKAGE_MAINTAINER "libZTRegionOfInterest developers <ztroi@example.org>"
    CACHE STRING "Maintainer named in the Debian packages")

string(TOLOWER "${ZTROI_NAME_SUFFIX}" zt_deb_suffix)
set(ZTROI_DEB_SOURCE libztregionofinterest${zt_deb_suffix})
set(ZTROI_DEB_RUNTIME libztregionofinterest${zt_deb_suffix}-0)
set(ZTROI_DEB_DEVELOPMENT libztregionofinterest${zt_deb_suffix}-dev)
set(ZTROI_DEB_TOOL ztroi${zt_deb_suffix})
set(ZTROI_DEB_FACES ztroi${zt_deb_suffix}-faces)
set(ZTROI_DEB_PYTHON python3-ztroi${zt_deb_suffix})
if(ZTROI_NAME_SUFFIX STREQUAL "")
    # Debian puts a hyphen between a library's name and its SONAME version only where the name
    # ends in a digit.
    set(ZTROI_DEB_RUNTIME libztregionofinterest0)
endif()
set(ZTROI_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR})

# Compresses SOURCE at build time into BINARY_DIR/NAME.gz and sets RESULT to that path; gzip -9n
# leaves out the name and time stamp, as Debian wants for manuals and changelogs.
function(zt_gzip source result)
    get_filename_component(name ${source} NAME)
    set(compressed ${CMAKE_CURRENT_BINARY_DIR}/${name}.gz)
    add_custom_command(OUTPUT ${compressed}
        COMMAND sh -c "gzip -9nc \"$1\" > \"$2\"" sh ${source} ${compressed}
        DEPENDS ${source}
        VERBATIM)
    add_custom_target(gzip_${name} ALL DEPENDS ${compressed})
    set(${result} ${compressed} PARENT_SCOPE)
endfunction()

# Debian wants a copyright file and a changelog in each package's documentation folder. They
# install only into the packages: a plain `cmake --install` leaves them out.
string(TIMESTAMP ZTROI_DEB_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in
    ${PROJECT_BINARY_DIR}/debian/changelog @ONLY)
zt_gzip(${PROJECT_BINARY_DIR}/debian/changelog ztroi_changelog)
function(zt_install_package_docs component)
    string(TOUPPER ${component} upper)
    install(FILES ${ZTROI_PACKAGING_DIR}/debian/copyright ${ztroi_changelog}
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${ZTROI_DEB_${upper}}
        COMPONENT ${component} EXCLUDE_FROM_ALL)
endfunction()
foreach(component runtime development tool)
    zt_install_package_docs(${component})
endforeach()

set(CPACK_GENERATOR DEB)
# Each package's description below starts with its own summary line.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
set(CPACK_PACKAGE_NAME ${ZTROI_DEB_SOURCE})
set(CPACK_PACKAGE_VENDOR "libZTRegionOfInterest developers")
set(CPACK_PACKAGE_CONTACT ${ZTROI_PACKAGE_MAINTAINER})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SOURCE ${ZTROI_DEB_SOURCE})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# dpkg-shlibdeps looks for ztroi's library in the build tree; the package that provides it is
# named in ztroi's dependencies below.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/libs/ZTRegionOfInterest)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${ZTROI_DEB_RUNTIME})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# The library's folder is in the dynamic linker's cache: refresh the cache by trigger.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/triggers)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION
    "salience maps and crop positions for photographs - library
libZTRegionOfInterest turns a picture into a salience map: a grey image in
which every pixel says how much that spot of the picture matters. Five methods
each make a map (colour edges, a centre prior, large uniform-colour areas,
colour contrast, and rectangles the host declares very important) and a mixer
combines them by weight. A clusterer and two maximizers turn a map into grid
scores and crop positions.
.
This package contains the shared library.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME ${ZTROI_DEB_DEVELOPMENT})
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
# Hosts compile against Qt's headers, which the CMake package and pkg-config file require.
if(ZTROI_QT_MAJOR STREQUAL "6")
    set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "qt6-base-dev (>= 6.2)")
else()
    set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "qtbase5-dev (>= 5.15)")
endif()
set(CPACK_COMPONENT_DEVELOPMENT_DEPENDS runtime)
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION
    "salience maps and crop positions for photographs - development files
libZTRegionOfInterest turns a picture into a salience map and finds crop
positions and grid scores in it.
.
This package contains the headers, the CMake package and the pkg-config file
for building programs that use the library.")

set(CPACK_DEBIAN_TOOL_PACKAGE_NAME ${ZTROI_DEB_TOOL})
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION graphics)
set(CPACK_COMPONENT_TOOL_DEPENDS runtime)
# WebP and TIFF pictures.
if(ZTROI_QT_MAJOR STREQUAL "6")
    set(CPACK_DEBIAN_TOOL_PACKAGE_RECOMMENDS "qt6-image-formats-plugins")
    set(CPACK_DEBIAN_TOOL_PACKAGE_CONFLICTS "ztroi")
    set(CPACK_DEBIAN_FACES_PACKAGE_CONFLICTS "ztroi-faces")
else()
    set(CPACK_DEBIAN_TOOL_PACKAGE_RECOMMENDS "qt5-image-formats-plugins")
    set(CPACK_DEBIAN_TOOL_PACKAGE_CONFLICTS "ztroi-qt6")
    set(CPACK_DEBIAN_FACES_PACKAGE_CONFLICTS "ztroi-qt6-faces")
endif()
if(ZTROI_QT_MAJOR STREQUAL "6")
    set(CPACK_DEBIAN_PYTHON_PACKAGE_CONFLICTS "python3-ztroi")
else()
    set(CPACK_DEBIAN_PYTHON_PACKAGE_CONFLICTS "python3-ztroi-qt6")
endif()
set(CPACK_DEBIAN_TOOL_DESCRIPTION
    "salience maps, crop suggestions and focal points for photographs
ztroi writes a salience map for every picture it is given, suggests crops for
aspect ratios or output sizes, and reports the focal point and grid scores,
as a summary or as JSON Lines. It reads JPEG, PNG, GIF, BMP, WebP and TIFF
pictures, and ICO, CUR and MNG on request.")

set(CPACK_DEBIAN_FACES_PACKAGE_NAME ${ZTROI_DEB_FACES})
set(CPACK_DEBIAN_FACES_PACKAGE_SECTION graphics)
set(CPACK_COMPONENT_FACES_DEPENDS tool)
# The cascade files that the module reads; the OpenCV libraries come from dpkg-shlibdeps.
set(CPACK_DEBIAN_FACES_PACKAGE_DEPENDS "opencv-data")
set(CPACK_DEBIAN_FACES_DESCRIPTION
    "salience maps, crop suggestions and focal points for photographs - faces
ztroi writes a salience map for every picture it is given and suggests crops.
.
This package contains the module that finds faces for ztroi, so that crops
keep every head whole: with the BlazeFace network (its model, Apache-2.0, is
included where it was fetched at build time; faces are then found by default)
in OpenCV's dnn module, else with OpenCV's Haar cascades (ztroi --faces).")

set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME ${ZTROI_DEB_PYTHON})
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_COMPONENT_PYTHON_DEPENDS runtime)
set(CPACK_DEBIAN_PYTHON_DESCRIPTION
    "salience maps, crop suggestions and focal points for photographs - Python 3
ztroi analyses photographs: salience maps, crops for aspect ratios or output
sizes, focal points, grid scores and faces.
.
This package contains the Python 3 module ztroi, which analyses NumPy arrays,
Pillow images, encoded pictures in memory and picture files as the ztroi
program does, and gives the crops' pixels back as arrays.")

# The Python package, which `cmake --install` puts where the build's interpreter looks under the
# prefix (lib/python3.X/...), goes into Debian's folder for every Python 3 in the package: the
# same depth below the prefix, so the extension's relative path to the library still holds.
function(zt_package_python)
    get_property(python_dir GLOBAL PROPERTY ZTROI_PYTHON_INSTALL_DIR)
    get_property(python_version GLOBAL PROPERTY ZTROI_PYTHON_VERSION)
    set(CPACK_ZTROI_PYTHON_DIR ${python_dir} PARENT_SCOPE)
    set(CPACK_ZTROI_DEBIAN_PYTHON_DIR lib/python3/dist-packages PARENT_SCOPE)
    set(CPACK_PRE_BUILD_SCRIPTS ${ZTROI_PACKAGING_DIR}/ZTDebianPython.cmake PARENT_SCOPE)
    # The extension is built for this Python version alone.
    string(REGEX MATCH "[0-9]+$" minor ${python_version})
    math(EXPR next_minor "${minor} + 1")
    string(REGEX REPLACE "[0-9]+$" ${next_minor} next_version ${python_version})
    set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS
        "python3 (>= ${python_version}), python3 (<< ${next_version}), python3-numpy"
        PARENT_SCOPE)
endfunction()

# Call at the end of the top-level CMakeLists.txt, once every install() rule is known. Checks
# that each names a known component (one without would silently be left out of every package),
# and writes CPack's configuration with the faces package where the face module is built.
macro(zt_check_install_components)
    set(CPACK_COMPONENTS_ALL runtime development tool)
    if(TARGET ztroi_faces)
        list(APPEND CPACK_COMPONENTS_ALL faces)
        zt_install_package_docs(faces)
        set(CPACK_DEBIAN_TOOL_PACKAGE_RECOMMENDS
            "${CPACK_DEBIAN_TOOL_PACKAGE_RECOMMENDS}, ${ZTROI_DEB_FACES}")
    endif()
    if(TARGET _ztroi)
        list(APPEND CPACK_COMPONENTS_ALL python)
        zt_install_package_docs(python)
        zt_package_python()
    endif()
    get_cmake_property(zt_components COMPONENTS)
    foreach(zt_component IN LISTS zt_components)
        if(NOT zt_component IN_LIST CPACK_COMPONENTS_ALL AND NOT zt_component STREQUAL "python")
            message(FATAL_ERROR "An install() rule names no package component, or an unknown one "
                "(\"${zt_component}\"): give it COMPONENT runtime, development, tool, faces or "
                "python.")
        endif()
    endforeach()
    include(CPack)
endmacro()
