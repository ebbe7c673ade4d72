# The virtual board's own tests (host and windows builds, in process).
ovled_add_gtest(simulator_tests
  SOURCES
    unit/simulator/VirtualBoardTest.cpp
    unit/simulator/BoardControlTest.cpp
  LIBS ovled_board_test_support
  LABELS unit)
