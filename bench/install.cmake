# The installation benchmark's process timer (Windows build, always built):
# bench/install_bench.sh runs it under Wine to time the peer installers.
add_executable(process_timer process_timer.cpp)
target_link_options(process_timer PRIVATE -municode)
