# SPDX-License-Identifier: BSD-3-Clause
# cmake -DOUT=<file> -DPLUGINS=<plugins.txt> -DHELP_DIR=<dir> -DNAME=<toolbox>
#       -DVERSION=<x.y.z> -DDATE=<YYYY-MM-DD> -P write-contents.cmake
include(${CMAKE_CURRENT_LIST_DIR}/toolbox.cmake)
toolbox_write_contents(${OUT} ${PLUGINS} ${HELP_DIR} ${NAME} ${VERSION} ${DATE})
