# The lighting app: its portable logic over a fake service (both builds), then the window under Wine.
ovled_add_gtest(app_tests
  SOURCES
    unit/app/FakeLighting.cpp
    unit/app/ServiceSessionTest.cpp
    unit/app/ServiceWorkerTest.cpp
    unit/app/PresentationTest.cpp
  LIBS ovled_app
  LABELS unit concurrency)

if(WIN32)
  # The window over the fake service, in process (the null graphics driver of the build's prefix).
  ovled_add_gtest(app_window_tests
    SOURCES
      unit/app/FakeLighting.cpp
      windows/app/MainWindowTest.cpp
      ${PROJECT_SOURCE_DIR}/app/win32/OvLedLighting.rc
    LIBS ovled_app_win32
    LABELS windows)
  target_include_directories(app_window_tests PRIVATE ${CMAKE_BINARY_DIR}/app/win32/icons ${OVLED_RESOURCE_DIR}
                             ${PROJECT_SOURCE_DIR}/app/win32)
  add_dependencies(app_window_tests ovled_app_icons)

  # What the running app's window shows, read from another process: the end-to-end test's eyes.
  add_executable(ovledappprobe windows/app/AppProbe.cpp)
  target_link_libraries(ovledappprobe PRIVATE ovled_options shell32 -municode)
  set_target_properties(ovledappprobe PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
endif()
