# Service host: the portable decision logic (both builds), then the Win32 glue under Wine.
ovled_add_gtest(service_tests
  SOURCES
    unit/service/CommandLineTest.cpp
    unit/service/ServiceControlTest.cpp
    unit/service/ServerRunTest.cpp
    unit/service/RegistryPlanTest.cpp
    unit/service/RegistrationTest.cpp
    unit/service/FakeRegistry.cpp
  LIBS ovled_service_core ovled_test_support
  LABELS unit)

ovled_add_gtest(service_concurrency_tests
  SOURCES unit/service/ServiceConcurrencyTest.cpp
  LIBS ovled_service_core ovled_test_support
  LABELS unit concurrency)

if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/windows/service/windows.cmake)
endif()
