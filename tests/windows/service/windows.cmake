# Windows tests of the service host, under Wine. Every test here touches what is shared by the whole
# Wine session (the class registration, the service, the diagnostic pipe, the window named after the
# service), so they all hold one resource lock.
set(_service_lock ovled_service_host)

add_library(ovled_service_test_support STATIC
  windows/service/support/DiagnosticListener.cpp
  windows/service/support/ServerCopy.cpp)
target_link_libraries(ovled_service_test_support PUBLIC ovled_service_win32 ovled_test_support)

# In process: the service entry over the real glue.
ovled_add_gtest(service_win32_tests
  SOURCES
    windows/service/ServiceEntryTest.cpp
  LIBS ovled_service_test_support ovled_devices
  LABELS windows
  RESOURCE_LOCK ${_service_lock})

# Out of process: the executable itself, registered from a copy in a temporary folder.
ovled_add_gtest(service_process_tests
  SOURCES
    windows/service/process/CommandLineProcessTest.cpp
    windows/service/process/LocalServerProcessTest.cpp
    windows/service/process/RegistrationProcessTest.cpp
    windows/service/process/ServiceProcessTest.cpp
  LIBS ovled_service_test_support
  LABELS windows
  # The executable's own lighting reaches whatever automation server is registered: the virtual board's
  # tests must not be running then.
  RESOURCE_LOCK ${_service_lock} virtual-board
  TIMEOUT 600)
# The copies beside the tests are refreshed on every build, not only when the tests relink: a change to
# the service alone must not leave them testing the old executable.
add_custom_target(service_process_copies ALL
  COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:OvLedService> $<TARGET_FILE:ovledctl>
          $<TARGET_FILE_DIR:service_process_tests>
  VERBATIM)
add_dependencies(service_process_copies OvLedService ovledctl service_process_tests)
set_property(TEST service_process_tests APPEND PROPERTY ENVIRONMENT OVLED_NO_MESSAGE_BOXES=1)
set_property(TEST service_win32_tests APPEND PROPERTY ENVIRONMENT OVLED_NO_MESSAGE_BOXES=1)
