# Service host: what a client pays for activation and ModeByIndex calls (Windows only).
if(WIN32)
  ovled_add_bench(service_com_bench ServiceComBench.cpp)
  target_link_libraries(service_com_bench PRIVATE ovled_idl ovled_platform -municode)
  add_dependencies(service_com_bench OvLedService)
  add_custom_command(TARGET service_com_bench POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:OvLedService> $<TARGET_FILE_DIR:service_com_bench>
    VERBATIM)
endif()
