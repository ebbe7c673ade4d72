# The virtual board's own tests (host and windows builds, in process; the shared lock's threads also
# under TSan).
ovled_add_gtest(simulator_tests
  SOURCES
    unit/simulator/VirtualBoardTest.cpp
    unit/simulator/BoardControlTest.cpp
  LIBS ovled_board_test_support
  LABELS unit concurrency)
