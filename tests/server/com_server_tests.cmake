# The DLL under Wine: class objects, the type library, registration. A second copy with
# a higher file version exercises the registration guards.
kvssf_add_com_server(KVSsfRdNewer "9,9,0,0")

kvssf_add_test(com_server_test SOURCES com_server_module.cpp class_factory_test.cpp
               registration_test.cpp)
add_dependencies(com_server_test KVSsfRd KVSsfRdNewer)
# Registration changes the prefix's registry that the Windows host's tests rely on.
set_tests_properties(com_server_test PROPERTIES RESOURCE_LOCK kvssf_registration)
