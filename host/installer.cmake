# The installer role: included by host/CMakeLists.txt. It reads bundles (platform_desktop).
add_library(host_installer STATIC
  installer.cc
  addon_entries.cc)
target_link_libraries(host_installer
  PUBLIC exchange lifetime platform_core platform_desktop
  PRIVATE project_options)
