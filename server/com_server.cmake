# The COM server DLL: the filter, the class factory, registration, and the type library
# compiled from the IDL with widl and embedded as TYPELIB 1.
find_program(KVSSF_WIDL x86_64-w64-mingw32-widl REQUIRED)
set(KVSSF_TYPELIB ${CMAKE_CURRENT_BINARY_DIR}/kvssf_reader.tlb CACHE INTERNAL "the compiled type library")
add_custom_command(
  OUTPUT ${KVSSF_TYPELIB}
  COMMAND ${KVSSF_WIDL} -m64 -I/usr/include/wine/wine/windows
          -L/usr/lib/x86_64-linux-gnu/wine/x86_64-windows -t -T ${KVSSF_TYPELIB}
          ${CMAKE_CURRENT_SOURCE_DIR}/kvssf_reader.idl
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/kvssf_reader.idl
  COMMENT "Compiling the type library")
add_custom_target(kvssf_typelib DEPENDS ${KVSSF_TYPELIB})

add_library(kvssf_server OBJECT dll_main.cpp class_factory.cpp factory_templates.cpp
            registry.cpp filter_registration.cpp registration.cpp)
kvssf_layer(kvssf_server server)
target_link_libraries(kvssf_server PUBLIC kvssf_filter)

# kvssf_add_com_server(<target> <file version "a,b,c,d">): the DLL with that version
# resource. Tests build a second copy with another version.
function(kvssf_add_com_server target version)
  set(KVSSF_RC_VERSION ${version})
  string(REPLACE "," "." KVSSF_RC_VERSION_TEXT ${version})
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
  configure_file(${CMAKE_SOURCE_DIR}/server/KVSsfRd.rc.in ${rc} @ONLY)
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${KVSSF_TYPELIB})
  add_library(${target} SHARED $<TARGET_OBJECTS:kvssf_server> ${rc}
                               ${CMAKE_SOURCE_DIR}/server/KVSsfRd.def)
  add_dependencies(${target} kvssf_typelib)
  set_target_properties(${target} PROPERTIES PREFIX "")
  target_link_libraries(${target} PRIVATE kvssf_filter version)
endfunction()

kvssf_add_com_server(KVSsfRd "${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},0,0")
