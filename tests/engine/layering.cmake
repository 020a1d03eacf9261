# Checks that each folder of the engine includes only from its own layer and those below it.
# Run as: cmake -DSOURCE_DIR=<top of the tree> -P layering.cmake
#
# For every folder, the engine folders its files may include from. A new engine part adds a
# line here; nothing low may name anything above it.
cmake_minimum_required(VERSION 3.25)
set(allowed_contract contract values)
set(allowed_values   values contract)
set(allowed_filter   filter contract values)
set(allowed_drivers  drivers contract values filter)
# The local SQL engine runs on a SQLite connection (drivers/sqlite) over the cursors of a
# STANDARD database; the driver receives it from the built-in driver list.
set(allowed_localsql localsql drivers contract values filter)
set(allowed_session  session contract values)
set(allowed_dataset  dataset session filter contract values)
set(allowed_export   export dataset session filter contract values)
set(allowed_batchmove batchmove dataset session filter contract values)
# The built-in driver list registers the drivers with a session: the one file of drivers/
# that may see the session.
set(exempt "engine/drivers/Drivers.cpp")

file(GLOB_RECURSE files RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/engine/*.h ${SOURCE_DIR}/engine/*.cpp)
set(failures 0)
foreach(f ${files})
  if(f IN_LIST exempt)
    continue()
  endif()
  string(REGEX MATCH "^engine/([^/]+)/" _ "${f}")
  set(folder "${CMAKE_MATCH_1}")
  if(folder STREQUAL "")
    message(SEND_ERROR "${f}: loose at the root of engine/")
    math(EXPR failures "${failures} + 1")
    continue()
  endif()
  if(NOT DEFINED allowed_${folder})
    message(SEND_ERROR "${f}: engine/${folder}/ has no line in layering.cmake")
    math(EXPR failures "${failures} + 1")
    continue()
  endif()
  file(STRINGS ${SOURCE_DIR}/${f} includes REGEX "^[ \t]*#[ \t]*include[ \t]+\"engine/")
  foreach(line ${includes})
    string(REGEX MATCH "\"engine/([^/\"]+)/" _ "${line}")
    set(target "${CMAKE_MATCH_1}")
    if(target STREQUAL "" OR NOT target IN_LIST allowed_${folder})
      message(SEND_ERROR "${f}: engine/${folder}/ may not include ${line}")
      math(EXPR failures "${failures} + 1")
    endif()
  endforeach()
endforeach()
if(failures GREATER 0)
  message(FATAL_ERROR "${failures} include(s) break the engine's layers")
endif()
list(LENGTH files count)
message(STATUS "engine layers hold in ${count} files")
