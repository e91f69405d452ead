# The installer role: included by host/CMakeLists.txt. It reads bundles (platform_desktop); its
# own platform piece, the atomic swap of two directories, is compiled from platform/ like the
# rest of the OS boundary.
add_library(host_installer STATIC
  installer.cc
  addon_entries.cc
  ${PROJECT_SOURCE_DIR}/platform/exchange_paths.cc)
target_link_libraries(host_installer
  PUBLIC exchange lifetime platform_core platform_desktop
  PRIVATE project_options)
