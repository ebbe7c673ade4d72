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
ovled_add_service_resources(service_win32_tests) # the message table that the event writer formats from

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

# A DLL that the process tests plant beside a copy of the executable under system DLLs' names.
add_library(ovled_planted_library SHARED windows/service/support/PlantedLibrary.cpp
                                         windows/service/support/PlantedLibrary.def)
set_target_properties(ovled_planted_library PROPERTIES PREFIX "" OUTPUT_NAME planted) # beside the tests
target_link_options(ovled_planted_library PRIVATE -static-libgcc)
add_dependencies(service_process_tests ovled_planted_library)

# A type library file that the in-process tests put beside an executable that carries none.
add_custom_command(TARGET service_win32_tests POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${OVLED_RESOURCE_DIR}/OvLedService.tlb
          $<TARGET_FILE_DIR:service_win32_tests>/OvLedService.tlb
  VERBATIM)
set_property(TEST service_win32_tests APPEND PROPERTY ENVIRONMENT OVLED_NO_MESSAGE_BOXES=1)
