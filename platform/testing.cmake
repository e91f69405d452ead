#platform_testing : the Desktop test double(virtual clock, scripted applications and launches).
add_library(platform_testing ${CMAKE_CURRENT_LIST_DIR} / testing / fake_desktop.cc)
    target_link_libraries(
        platform_testing PUBLIC platform_desktop PRIVATE project_options Threads::Threads)
