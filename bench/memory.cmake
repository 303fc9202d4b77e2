# Peak heap of a discovery-style pass (every entry into memory) beside the
# largest entry:  build/bench/bench/discovery_memory Setup.exe
add_executable(discovery_memory discovery_memory.cpp)
target_include_directories(discovery_memory PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(discovery_memory PRIVATE vx_archive vx_support)
