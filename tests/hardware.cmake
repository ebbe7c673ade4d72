# The hardware layer's tests, all against the virtual board in process.
add_library(ovled_board_test_support STATIC support/BoardScope.cpp support/BoardTrace.cpp)
target_link_libraries(ovled_board_test_support PUBLIC ovled_test_support ovled_simulator ovled_devices)

ovled_add_gtest(hardware_tests
  SOURCES
    unit/hardware/BiosItemTest.cpp
    unit/hardware/BiosItemRegistryTest.cpp
    unit/hardware/EcPortTest.cpp
  LIBS ovled_board_test_support
  LABELS unit)

ovled_add_gtest(hardware_concurrency_tests
  SOURCES unit/hardware/HardwareConcurrencyTest.cpp
  LIBS ovled_board_test_support
  LABELS unit concurrency)

if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/windows/hardware/tests.cmake)
endif()
