ovled_add_gtest(audio_tests
  SOURCES
    support/AudioTestSupport.cpp
    unit/audio/FastFourierTransformTest.cpp
    unit/audio/AudioEffectTest.cpp
    unit/audio/MusicEffectDriverTest.cpp
    unit/audio/CaptureTimerTest.cpp
  LIBS ovled_audio ovled_test_support
  LABELS unit concurrency)

if(WIN32)
  ovled_add_gtest(audio_windows_tests
    SOURCES
      support/AudioTestSupport.cpp
      windows/audio/FakeCoreAudio.cpp
      windows/audio/LoopbackCaptureTest.cpp
    LIBS ovled_audio
    LABELS windows)
endif()

if(WIN32)
  # Real audio through a private PulseAudio: the wrapper starts it, plays a tone, and tears it down.
  ovled_add_gtest(audio_real_capture_tests
    SOURCES
      support/AudioTestSupport.cpp
      windows/audio/RealCaptureTest.cpp
    LIBS ovled_audio
    LABELS windows audio-device
    WRAPPER ${CMAKE_CURRENT_SOURCE_DIR}/windows/audio/real-capture.sh
    TIMEOUT 120)
endif()
