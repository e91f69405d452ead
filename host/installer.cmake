# The installer role: included by host/CMakeLists.txt. It reads bundles and makes bookmarks the
# Linux way (platform_linux): the host is a Linux program.
add_library(host_installer STATIC
  addon_entries.cc
  entry_texts.cc
  installer.cc
  roles.cc)
target_link_libraries(host_installer
  PUBLIC exchange lifetime platform_core platform_linux
  PRIVATE project_options)

# The installer roles' own program, outside Contents/MacOS: a process running there is taken for
# a running host.
add_executable(tonebrook-install installer_main.cc)
target_link_libraries(tonebrook-install PRIVATE host_installer project_options project_shipped)
set_target_properties(tonebrook-install PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY ${TONEBROOK_APP_DIR}/Contents/Helpers)
