# Warnings and sanitizers as INTERFACE targets, linked PRIVATE by every target of the project.
add_library(project_warnings INTERFACE)
target_compile_options(project_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion -Wnon-virtual-dtor
  -Wold-style-cast -Woverloaded-virtual -Wnull-dereference -Wformat=2)
option(TONEBROOK_WERROR "Treat warnings as errors" ON)
if(TONEBROOK_WERROR)
  target_compile_options(project_warnings INTERFACE -Werror)
endif()

add_library(project_sanitizers INTERFACE)
option(TONEBROOK_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(TONEBROOK_SANITIZE)
  target_compile_options(project_sanitizers INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  target_link_options(project_sanitizers INTERFACE -fsanitize=address,undefined)
endif()

add_library(project_options INTERFACE)
target_compile_features(project_options INTERFACE cxx_std_20)
target_link_libraries(project_options INTERFACE project_warnings project_sanitizers)
target_include_directories(project_options INTERFACE ${PROJECT_SOURCE_DIR})

set(CMAKE_CXX_EXTENSIONS OFF)
set(CMAKE_EXPORT_COMPILE_COMMANDS ON)
