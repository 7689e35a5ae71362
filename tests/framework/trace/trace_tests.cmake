# Trace tests. trace_test compiles its own switch word with every bit set, which keeps the
# framework's out of its link; its cases set the bits they exercise. trace_shipped_test
# links the framework's, as the product does.
set(trace_test_sources trace/trace_test.cpp trace/trace_names_test.cpp trace/trace_prefix_test.cpp
    trace/trace_fixture.cpp ${CMAKE_SOURCE_DIR}/tests/manifest/sps_reader_trace_test.cpp
    ${CMAKE_SOURCE_DIR}/tests/manifest/failure_trace_test.cpp
    ${CMAKE_SOURCE_DIR}/framework/trace/trace_switch.cpp
    ${CMAKE_SOURCE_DIR}/tests/support/failing_allocation.cpp)
if(KVSSF_WINDOWS)
  list(APPEND trace_test_sources trace/trace_win32_test.cpp trace/file_lock_win32.cpp)
else()
  list(APPEND trace_test_sources trace/trace_posix_test.cpp trace/file_lock_posix.cpp)
endif()
kvssf_add_test(trace_test SOURCES ${trace_test_sources})
target_compile_definitions(trace_test PRIVATE KVSSF_TRACE_SWITCH=0x6F)
target_link_libraries(trace_test PRIVATE kvssf_manifest)

kvssf_add_test(trace_shipped_test SOURCES trace/trace_shipped_test.cpp trace/trace_fixture.cpp)
target_compile_definitions(trace_shipped_test PRIVATE KVSSF_TRACE_SWITCH=${KVSSF_TRACE_SWITCH})
