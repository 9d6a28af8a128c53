# SPDX-License-Identifier: BSD-3-Clause
# Helpers shared by the configure step and the packaging scripts (cmake -P):
# the one reader of the list files of kernels/.

# The entries of a list file of kernels/ (plugins.txt, recipe.txt): its
# lines in order, without comments ('#' starts one) and blanks.
function(toolbox_read_list out listfile)
  file(STRINGS ${listfile} lines)
  set(entries)
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "#.*" "" line "${line}")
    string(STRIP "${line}" line)
    if(line)
      list(APPEND entries ${line})
    endif()
  endforeach()
  set(${out} ${entries} PARENT_SCOPE)
endfunction()

# The plug-in names of kernels/plugins.txt, in its order.
# The compile recipe (kernels/recipe.txt): each setting KEY = value as the
# list RECIPE_<KEY> in the caller's scope.
function(toolbox_read_recipe recipefile)
  toolbox_read_list(settings ${recipefile})
  foreach(setting IN LISTS settings)
    if(NOT setting MATCHES "^([A-Z_]+) *= *(.*)$")
      message(FATAL_ERROR "${recipefile}: '${setting}' is not KEY = value")
    endif()
    separate_arguments(value UNIX_COMMAND "${CMAKE_MATCH_2}")
    set(RECIPE_${CMAKE_MATCH_1} ${value} PARENT_SCOPE)
  endforeach()
endfunction()

function(toolbox_read_plugins out listfile)
  toolbox_read_list(names ${listfile})
  if(NOT names)
    message(FATAL_ERROR "${listfile} names no plug-in")
  endif()
  set(${out} ${names} PARENT_SCOPE)
endfunction()

# The folder help, Contents.m (`help` of the toolbox folder, and MATLAB's
# `ver`; `tablefold` reads the version from it): the toolbox's title and
# version, then one line per plug-in taken from the first line of its help
# file (octave/<plugin>.m). The licence line follows the help block.
# (`help tablefold` shows the help of octave/tablefold.m, which every
# toolbox folder holds.)
function(toolbox_write_contents outfile listfile helpdir name version date)
  toolbox_read_plugins(plugins ${listfile})
  string(REGEX MATCH "^([0-9]+)-([0-9]+)-([0-9]+)$" ok "${date}")
  if(NOT ok)
    message(FATAL_ERROR "release date '${date}' is not YYYY-MM-DD")
  endif()
  set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
  math(EXPR m "${CMAKE_MATCH_2} - 1")
  list(GET months ${m} month)
  string(TOUPPER ${name} upper)
  set(title "${upper}  Table alignment, link folding and pair tallies for MATLAB and Octave")
  set(text "% Version ${version} ${CMAKE_MATCH_3}-${month}-${CMAKE_MATCH_1}\n%\n% Plug-ins\n")
  foreach(plugin IN LISTS plugins)
    set(help ${helpdir}/${plugin}.m)
    if(NOT EXISTS ${help})
      message(FATAL_ERROR "no help file ${help} for the plug-in ${plugin}")
    endif()
    file(STRINGS ${help} h1 LIMIT_COUNT 1)
    string(REGEX MATCH "^%[A-Z_]+ +(.+)$" h1 "${h1}")
    if(NOT h1)
      message(FATAL_ERROR "${help} has no H1 line (%NAME  Summary) as its first line")
    endif()
    set(h1 "${CMAKE_MATCH_1}")
    string(LENGTH ${plugin} len)
    math(EXPR pad "20 - ${len}")
    if(pad LESS 1)
      set(pad 1)
    endif()
    string(REPEAT " " ${pad} spaces)
    string(APPEND text "%   ${plugin}${spaces}- ${h1}\n")
  endforeach()
  string(APPEND text "%\n% help <name> gives a plug-in's inputs, outputs, errors and an example;\n")
  string(APPEND text "% in Octave, demo <name> runs its worked example and test <name> its tests.\n")
  string(APPEND text "% ${name}_demo runs them all on small examples.\n")
  set(licence "\n% SPDX-License-Identifier: BSD-3-Clause\n")
  file(WRITE ${outfile} "% ${title}\n${text}${licence}")
endfunction()
