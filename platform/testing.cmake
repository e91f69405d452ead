# platform_testing: the Desktop test double (virtual clock, scripted applications and launches)
# and a private dbus-daemon with a Convert caller for tests of the Services machinery.
add_library(platform_testing
  ${CMAKE_CURRENT_LIST_DIR}/testing/fake_desktop.cc
  ${CMAKE_CURRENT_LIST_DIR}/testing/private_bus.cc)
target_link_libraries(platform_testing
  PUBLIC platform_desktop
  PRIVATE project_options PkgConfig::SYSTEMD Threads::Threads)
