# The lighting devices' periodic work (music colour tick, thermal cycle) on the in-process virtual board.
ovled_add_bench(devices_bench DevicesBench.cpp)
target_link_libraries(devices_bench PRIVATE ovled_devices ovled_simulator)
