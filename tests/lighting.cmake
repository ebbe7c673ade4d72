ovled_add_gtest(lighting_tests
  SOURCES
    unit/lighting/XmlKeyStoreTest.cpp
    unit/lighting/LightingSettingsTest.cpp
    unit/lighting/LedConfigFileTest.cpp
    unit/lighting/LightingManagerTest.cpp
    unit/lighting/PowerEventsTest.cpp
    unit/lighting/ThermalThreadTest.cpp
    unit/lighting/HslToRgbTest.cpp
    unit/lighting/MusicOutputTest.cpp
    unit/lighting/LightsOffTest.cpp
  LIBS ovled_lighting ovled_test_support ovled::tinyxml
  LABELS unit)

ovled_add_gtest(lighting_concurrency_tests
  SOURCES unit/lighting/ManagerConcurrencyTest.cpp
  LIBS ovled_lighting ovled_test_support
  LABELS unit concurrency)

if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/windows/lighting/windows.cmake)
endif()
