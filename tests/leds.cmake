# The LED controllers against the virtual board in process: every slot's firmware traffic, and both
# colour sources' colours on the board.
ovled_add_gtest(led_tests
  SOURCES
    unit/leds/LedControlTest.cpp
    unit/leds/ExternalLedStripControlTest.cpp
    unit/leds/MusicOnTheBoardTest.cpp
  LIBS ovled_leds ovled_board_test_support
  LABELS unit)

# A strip operation and the music colour on two threads share the one strip selection.
ovled_add_gtest(led_concurrency_tests
  SOURCES unit/leds/StripSelectionTest.cpp
  LIBS ovled_leds ovled_board_test_support
  LABELS unit concurrency)
