# The lighting app: its portable logic over a fake service (both builds), then the window under Wine.
ovled_add_gtest(app_tests
  SOURCES
    unit/app/FakeLighting.cpp
    unit/app/ServiceSessionTest.cpp
    unit/app/ServiceWorkerTest.cpp
    unit/app/PresentationTest.cpp
  LIBS ovled_app
  LABELS unit concurrency)
