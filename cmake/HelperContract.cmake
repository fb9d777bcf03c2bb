# The helper contract for C++: the names of the introspection XML and the version of this build,
# in one generated header (HelperContract.h, target fernpoint_contract) that the helper client,
# the installer, the helper, fernpointctl and the tests include.
set(FERNPOINT_HELPER_CONTRACT_XML ${PROJECT_SOURCE_DIR}/dbus/com.lunacore.sdwan.fernpoint.Helper.xml)
set(FERNPOINT_HELPER_BUS_NAME "com.lunacore.sdwan.fernpoint.helper")
set(FERNPOINT_HELPER_VERSION ${PROJECT_VERSION})

file(READ ${FERNPOINT_HELPER_CONTRACT_XML} helper_contract)
string(REGEX MATCH "<node name=\"([^\"]+)\"" _ "${helper_contract}")
set(FERNPOINT_HELPER_OBJECT_PATH ${CMAKE_MATCH_1})
string(REGEX MATCH "<interface name=\"([^\"]+)\"" _ "${helper_contract}")
set(FERNPOINT_HELPER_INTERFACE ${CMAKE_MATCH_1})
if(NOT FERNPOINT_HELPER_OBJECT_PATH OR NOT FERNPOINT_HELPER_INTERFACE)
  message(FATAL_ERROR "${FERNPOINT_HELPER_CONTRACT_XML} names no object path or no interface")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${FERNPOINT_HELPER_CONTRACT_XML})

configure_file(${PROJECT_SOURCE_DIR}/dbus/HelperContract.h.in
               ${PROJECT_BINARY_DIR}/contract/HelperContract.h @ONLY)
add_library(fernpoint_contract INTERFACE)
target_include_directories(fernpoint_contract INTERFACE ${PROJECT_BINARY_DIR}/contract)
target_link_libraries(fernpoint_contract INTERFACE Qt6::Core)
