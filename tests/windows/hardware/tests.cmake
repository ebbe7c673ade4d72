# Windows tests of the hardware layer, under Wine: the real bridge against the out-of-process virtual
# board, and the "ovio.dll" loader against the virtual port-I/O library. Both use the one shared board
# (and the bridge tests the registered server), so they hold the virtual-board lock; each registers,
# starts, stops and unregisters what it needs itself.
set(_windows_hardware ${CMAKE_CURRENT_LIST_DIR})

ovled_add_gtest(windows_acpi_bridge_tests
  SOURCES ${_windows_hardware}/AcpiBridgeTest.cpp ${_windows_hardware}/HeldConnectionTest.cpp
  LIBS ovled_hardware ovled_shared_board ovled_test_support
  LABELS windows
  RESOURCE_LOCK virtual-board
  TIMEOUT 120)
ovled_add_acpi_exports(windows_acpi_bridge_tests)
add_dependencies(windows_acpi_bridge_tests VirtualAcpiServer)

ovled_add_gtest(windows_port_io_tests
  SOURCES ${_windows_hardware}/PortIoLibraryTest.cpp
  LIBS ovled_hardware ovled_shared_board ovled_test_support
  LABELS windows
  RESOURCE_LOCK virtual-board
  TIMEOUT 120)
add_dependencies(windows_port_io_tests ovio ovio-no-open ovio-no-byte-access ovio-open-fails)

# Beside the server and the port-I/O libraries, which they find in their own folder.
set_target_properties(windows_acpi_bridge_tests windows_port_io_tests PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
