#platform_desktop : the Desktop interface's Linux implementation (run loop, bundles, pasteboards,
#running applications, launching, file tests) and the Services machinery on the session bus.
add_library(platform_desktop ${CMAKE_CURRENT_LIST_DIR} / bundle.cc ${CMAKE_CURRENT_LIST_DIR} /
            linux_desktop.cc ${CMAKE_CURRENT_LIST_DIR} /
            linux_file_tests.cc ${CMAKE_CURRENT_LIST_DIR} /
            linux_launch.cc ${CMAKE_CURRENT_LIST_DIR} /
            linux_running_applications.cc ${CMAKE_CURRENT_LIST_DIR} /
            pasteboard.cc ${CMAKE_CURRENT_LIST_DIR} / run_loop.cc ${CMAKE_CURRENT_LIST_DIR} /
            services_bus.cc)
    target_link_libraries(platform_desktop PUBLIC platform_core PRIVATE project_options
                              PkgConfig::PLIST PkgConfig::SYSTEMD Threads::Threads)
