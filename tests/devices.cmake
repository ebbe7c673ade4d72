# The composed devices against the virtual board in process: the CPU temperature, the lighting manager
# end to end over the real controllers, and the firmware traffic of a scripted drive.
ovled_add_gtest(device_tests
  SOURCES
    unit/devices/CpuTemperatureTest.cpp
    unit/devices/LightingEndToEndTest.cpp
    unit/devices/FirmwareTraceTest.cpp
  LIBS ovled_devices ovled_board_test_support
  LABELS unit concurrency)

