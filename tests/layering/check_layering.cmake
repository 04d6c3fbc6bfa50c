cmake_minimum_required(VERSION 3.21)
# Keeps the layers apart: the engine (acquire/) builds without widgets, and the
# views never reach into the control window. Run with -DROOT=<source dir>
# -DWIDGET_HEADERS=<the QtWidgets include folder>.
file(GLOB widget_headers RELATIVE ${WIDGET_HEADERS} ${WIDGET_HEADERS}/Q*)
if(NOT widget_headers)
  message(FATAL_ERROR "no widget headers found in '${WIDGET_HEADERS}'")
endif()
set(failures "")

file(GLOB_RECURSE engine_files ${ROOT}/acquire/*.h ${ROOT}/acquire/*.cpp)
foreach(file ${engine_files})
  file(STRINGS ${file} includes REGEX "^[ \t]*#[ \t]*include")
  foreach(line ${includes})
    if(line MATCHES "[<\"](QtWidgets/)?(Q[A-Za-z]+)[>\"]")
      set(header ${CMAKE_MATCH_2})
      if(line MATCHES "QtWidgets" OR header IN_LIST widget_headers)
        list(APPEND failures "${file}: engine includes the widget header ${header}")
      endif()
    endif()
    # The control window and the views are widgets all through.
    if(line MATCHES "\"(session|views)/")
      list(APPEND failures "${file}: engine includes a window header: ${line}")
    endif()
  endforeach()
endforeach()

file(GLOB_RECURSE view_files ${ROOT}/views/*.h ${ROOT}/views/*.cpp)
foreach(file ${view_files})
  file(STRINGS ${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"session/")
  foreach(line ${includes})
    list(APPEND failures "${file}: view includes a control window header: ${line}")
  endforeach()
endforeach()

if(failures)
  list(JOIN failures "\n" text)
  message(FATAL_ERROR "${text}")
endif()
