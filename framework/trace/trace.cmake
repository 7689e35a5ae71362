# The diagnostic trace, part of the framework on both platforms; its OS backend lives in
# the platform folder.
set(KVSSF_TRACE_SWITCH 0x10 CACHE STRING "The trace switch word compiled into the product")

target_sources(kvssf_framework PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/trace.cpp
  ${CMAKE_CURRENT_LIST_DIR}/trace_names.cpp
  ${CMAKE_CURRENT_LIST_DIR}/trace_prefix.cpp
  ${CMAKE_CURRENT_LIST_DIR}/trace_writer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/trace_switch.cpp)
# Set where the framework is defined, so only its targets see the value; test programs
# compile their own copy with another.
set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/trace_switch.cpp TARGET_DIRECTORY kvssf_framework
  PROPERTIES COMPILE_DEFINITIONS KVSSF_TRACE_SWITCH=${KVSSF_TRACE_SWITCH})
if(KVSSF_WINDOWS)
  target_sources(kvssf_framework PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../platform/win32/trace.cpp)
else()
  target_sources(kvssf_framework PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../platform/posix/trace.cpp)
endif()
