# The hardware layer's costs: one firmware call, one embedded-controller register write. In process
# against the virtual board in every build; the windows build adds the real bridge against the
# out-of-process server and the register write through ovio.dll (it registers, starts, stops and
# unregisters the server itself, so run it from <build>/bin).
if(WIN32)
  ovled_add_bench(hardware_bench HardwareBench.cpp HardwareBenchWin32.cpp)
  target_link_libraries(hardware_bench PRIVATE ovled_hardware ovled_simulator ovled_shared_board)
  set_target_properties(hardware_bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
  add_dependencies(hardware_bench VirtualAcpiServer ovio)
else()
  ovled_add_bench(hardware_bench HardwareBench.cpp HardwareBenchHost.cpp)
  target_link_libraries(hardware_bench PRIVATE ovled_hardware ovled_simulator)
endif()
