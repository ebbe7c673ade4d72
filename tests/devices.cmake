# The composed devices against the virtual board in process: the music colour on the board, the
# lighting manager end to end over the real controllers, and the strip-selection lock.
ovled_add_gtest(device_tests
  SOURCES
    unit/devices/BoardMusicTest.cpp
    unit/devices/LightingEndToEndTest.cpp
    unit/devices/FirmwareTraceTest.cpp
  LIBS ovled_devices ovled_board_test_support
  LABELS unit concurrency)

ovled_add_gtest(device_concurrency_tests
  SOURCES unit/devices/StripSelectionTest.cpp
  LIBS ovled_devices ovled_board_test_support
  LABELS unit concurrency)
