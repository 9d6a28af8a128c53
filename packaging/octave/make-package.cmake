# SPDX-License-Identifier: BSD-3-Clause
# Writes the Octave package <NAME>-<VERSION>.tar.gz into BINARY_DIR:
#   cmake -DSOURCE_DIR=<repo> -DBINARY_DIR=<build> -DNAME=<toolbox>
#         -DVERSION=<x.y.z> -DDATE=<YYYY-MM-DD> -DOCTAVE_CLI=<octave-cli>
#         -P make-package.cmake
# The tarball holds one folder <NAME>-<VERSION>/ with DESCRIPTION, COPYING,
# CITATION, NEWS, INDEX, inst/ (help files with their tests and demos,
# Contents.m, <NAME>.m, the demo) and src/ (the Makefile that pkg install
# runs, and the sources: kernels/ and host/ without the emulated host, which
# only the tests use).
include(${CMAKE_CURRENT_LIST_DIR}/../toolbox.cmake)
foreach(var SOURCE_DIR BINARY_DIR NAME VERSION DATE OCTAVE_CLI)
  if(NOT ${var})
    message(FATAL_ERROR "make-package.cmake needs -D${var}=...")
  endif()
endforeach()

set(here ${CMAKE_CURRENT_LIST_DIR})
set(top ${NAME}-${VERSION})
set(work ${BINARY_DIR}/package)
set(stage ${work}/${top})
set(tarball ${BINARY_DIR}/${top}.tar.gz)
set(listfile ${SOURCE_DIR}/kernels/plugins.txt)
toolbox_read_plugins(plugins ${listfile})

file(REMOVE_RECURSE ${work})
file(MAKE_DIRECTORY ${stage}/inst ${stage}/src)

configure_file(${here}/DESCRIPTION.in ${stage}/DESCRIPTION @ONLY)
string(SUBSTRING ${DATE} 0 4 YEAR)
configure_file(${here}/CITATION.in ${stage}/CITATION @ONLY)
file(COPY ${SOURCE_DIR}/COPYING ${here}/NEWS DESTINATION ${stage})
string(REPLACE ";" " " names "${plugins}")
file(WRITE ${stage}/INDEX
  "${NAME} >> Table alignment, link folding and pair tallies\nPlug-ins\n ${names}\n")

# inst/: the help file of every plug-in, the folder help and the demo.
foreach(plugin IN LISTS plugins)
  file(COPY ${SOURCE_DIR}/octave/${plugin}.m DESTINATION ${stage}/inst)
endforeach()
file(COPY ${SOURCE_DIR}/octave/${NAME}_demo.m ${SOURCE_DIR}/octave/${NAME}.m DESTINATION ${stage}/inst)
file(COPY ${SOURCE_DIR}/octave/private DESTINATION ${stage}/inst)
toolbox_write_contents(${stage}/inst/Contents.m ${listfile} ${SOURCE_DIR}/octave
                       ${NAME} ${VERSION} ${DATE})

# src/: the build and the sources it compiles.
file(COPY ${here}/src/Makefile DESTINATION ${stage}/src)
set(sources FILES_MATCHING PATTERN "*.h" PATTERN "*.cpp" PATTERN "*.cc")
file(COPY ${SOURCE_DIR}/kernels/ DESTINATION ${stage}/src/kernels ${sources}
     PATTERN plugins.txt PATTERN recipe.txt PATTERN mexFunction.exports PATTERN mexFunction.map)
file(COPY ${SOURCE_DIR}/host/ DESTINATION ${stage}/src/host ${sources}
     PATTERN emulated EXCLUDE)
foreach(plugin IN LISTS plugins)
  if(NOT EXISTS ${stage}/src/kernels/${plugin}.cpp)
    message(FATAL_ERROR "the plug-in ${plugin} has no source kernels/${plugin}.cpp")
  endif()
endforeach()

# src/help/<name>/plugin_help.h: each native function's help text, taken
# from its help file as build_plugins takes it.
foreach(plugin IN LISTS plugins)
  file(MAKE_DIRECTORY ${stage}/src/help/${plugin})
  execute_process(COMMAND ${OCTAVE_CLI} --eval
                  "addpath('${SOURCE_DIR}/octave'); help_header('${SOURCE_DIR}/octave/${plugin}.m', '${stage}/src/help/${plugin}/plugin_help.h')"
                  RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "could not write the help header of ${plugin}")
  endif()
endforeach()

file(REMOVE ${tarball})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar czf ${tarball} --format=gnutar ${top}
                WORKING_DIRECTORY ${work} RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "could not write ${tarball}")
endif()
message(STATUS "Octave package: ${tarball}")
