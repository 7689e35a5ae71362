# Trace tests. trace_test compiles its own switch word with every bit set, which keeps the
# core's out of its link; its cases set the bits they exercise. trace_shipped_test links
# the core's, as the product does.
set(trace_test_sources trace_test.cpp trace_names_test.cpp trace_prefix_test.cpp
    sps_reader_trace_test.cpp trace_fixture.cpp ${CMAKE_SOURCE_DIR}/server/trace_switch.cpp
    ${CMAKE_SOURCE_DIR}/tests/support/failing_allocation.cpp)
if(KVSSF_WINDOWS)
  list(APPEND trace_test_sources trace_win32_test.cpp file_lock_win32.cpp)
else()
  list(APPEND trace_test_sources trace_posix_test.cpp file_lock_posix.cpp)
endif()
kvssf_add_test(trace_test SOURCES ${trace_test_sources})
target_compile_definitions(trace_test PRIVATE KVSSF_TRACE_SWITCH=0x6F)

kvssf_add_test(trace_shipped_test SOURCES trace_shipped_test.cpp trace_fixture.cpp)
target_compile_definitions(trace_shipped_test PRIVATE KVSSF_TRACE_SWITCH=${KVSSF_TRACE_SWITCH})
