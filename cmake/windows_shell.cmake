# The Windows programs: melno2quaz.exe (the window), melno2quaz-cli.exe (the
# command-line front end as a console program) and, with the tests, the
# program that drives the window under Wine.
enable_language(RC)

# The window's code, shared by WinMain and the window test program.
add_library(m2q_shell STATIC
  shell/command_line_files.cpp
  shell/drop_handler.cpp
  shell/main_window.cpp
  shell/open_dialog.cpp
  shell/taskbar_progress.cpp
  shell/wide_text.cpp
  shell/window_batch.cpp
)
target_include_directories(m2q_shell PUBLIC shell)
target_link_libraries(m2q_shell PUBLIC m2q_core m2q_platform shell32 gdi32 user32 comctl32 comdlg32 ole32 uuid)

# Icon, version information and manifest of melno2quaz.exe.
set(M2Q_SHELL_DIR ${CMAKE_CURRENT_SOURCE_DIR}/shell)
configure_file(shell/melno2quaz.rc.in ${CMAKE_CURRENT_BINARY_DIR}/melno2quaz.rc @ONLY)

# A GUI program (subsystem windows, -mwindows), statically linked.
add_executable(melno2quaz_window WIN32 shell/win_main.cpp ${CMAKE_CURRENT_BINARY_DIR}/melno2quaz.rc)
target_link_libraries(melno2quaz_window PRIVATE m2q_shell)
set_target_properties(melno2quaz_window PROPERTIES OUTPUT_NAME melno2quaz)
set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/melno2quaz.rc PROPERTIES
  OBJECT_DEPENDS "${M2Q_SHELL_DIR}/melno2quaz.ico;${M2Q_SHELL_DIR}/melno2quaz.manifest;${M2Q_SHELL_DIR}/resource_ids.h")

# The console front end keeps its sources; only its file name changes so
# that it sits beside the window program.
set_target_properties(melno2quaz PROPERTIES OUTPUT_NAME melno2quaz-cli)

if(BUILD_TESTING)
  add_executable(m2q_window_harness tests/windows/window_harness.cpp)
  target_link_libraries(m2q_window_harness PRIVATE m2q_shell version)
endif()
