# Trace tests. trace_test compiles its own switch word with every bit set, which keeps the
# core's out of its link; its cases set the bits they exercise.
kvssf_add_test(trace_test SOURCES trace_names_test.cpp ${CMAKE_SOURCE_DIR}/server/trace_switch.cpp)
target_compile_definitions(trace_test PRIVATE KVSSF_TRACE_SWITCH=0x6F)
