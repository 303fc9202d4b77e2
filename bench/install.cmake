# The installation benchmark's process timer (Windows build, always built):
# bench/install_bench.sh runs it under Wine to time the peer installers.
add_executable(process_timer process_timer.cpp)
target_link_options(process_timer PRIVATE -municode)

# The platform's floor beside the installers: a program that does nothing,
# one that only creates the package's files, and the same as a dialog
# program (bench/install_bench.sh).
add_executable(file_floor file_floor.cpp)
target_link_options(file_floor PRIVATE -municode)
