# The installer role: included by host/CMakeLists.txt. It reads bundles and makes bookmarks the
# Linux way (platform_linux): the host is a Linux program.
add_library(host_installer STATIC
  installer.cc
  addon_entries.cc)
target_link_libraries(host_installer
  PUBLIC exchange lifetime platform_core platform_linux
  PRIVATE project_options)
