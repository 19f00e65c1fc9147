# The Windows programs: melno2quaz.exe (the window), melno2quaz-cli.exe (the
# command-line front end as a console program) and, with the tests, the
# program that drives the window under Wine.

# The window's code, shared by WinMain and the window test program.
add_library(m2q_shell STATIC
  shell/drop_handler.cpp
  shell/main_window.cpp
)
target_include_directories(m2q_shell PUBLIC shell)
target_link_libraries(m2q_shell PUBLIC m2q_core shell32 gdi32 user32)

# A GUI program (subsystem windows, -mwindows), statically linked.
add_executable(melno2quaz_window WIN32 shell/win_main.cpp)
target_link_libraries(melno2quaz_window PRIVATE m2q_shell)
set_target_properties(melno2quaz_window PROPERTIES OUTPUT_NAME melno2quaz)

# The console front end keeps its sources; only its file name changes so
# that it sits beside the window program.
set_target_properties(melno2quaz PROPERTIES OUTPUT_NAME melno2quaz-cli)

if(BUILD_TESTING)
  add_executable(m2q_window_harness tests/windows/window_harness.cpp)
  target_link_libraries(m2q_window_harness PRIVATE m2q_shell)
endif()
