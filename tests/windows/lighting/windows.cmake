# Windows tests of the lighting's Win32 glue, in process, under Wine: the COM object and the power event
# window, over fake devices and over the out-of-process virtual board. They touch what the service host's
# tests touch too (the window named after the service, the shared board), so they hold the same locks.
ovled_add_gtest(lighting_win32_tests
  SOURCES
    windows/lighting/LightControlTest.cpp
    windows/lighting/LightingTest.cpp
    windows/lighting/PowerWindowTest.cpp
    windows/lighting/PowerEventsOnTheBoardTest.cpp
  LIBS ovled_lighting_win32 ovled_test_support ovled_devices ovled_shared_board
  LABELS windows
  RESOURCE_LOCK ovled_service_host virtual-board)
ovled_add_service_resources(lighting_win32_tests) # the type library that IDispatch is driven by
# Beside the virtual automation server, which the power events' test registers and starts.
set_target_properties(lighting_win32_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
add_dependencies(lighting_win32_tests VirtualAcpiServer)
set_property(TEST lighting_win32_tests APPEND PROPERTY ENVIRONMENT OVLED_NO_MESSAGE_BOXES=1)
