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
# TONEBROOK_FUZZ builds the libFuzzer targets of fuzz/ (clang only): every library carries the
# fuzzer's coverage instrumentation with address and undefined-behaviour checks, and only the
# fuzz targets link libFuzzer itself (-fsanitize=fuzzer, in fuzz/CMakeLists.txt).
option(TONEBROOK_FUZZ "Build the libFuzzer targets (clang)" OFF)
if(TONEBROOK_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "TONEBROOK_FUZZ needs clang (the fuzz preset sets clang++).")
  endif()
  target_compile_options(project_sanitizers INTERFACE
    -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
    -fno-omit-frame-pointer)
  target_link_options(project_sanitizers INTERFACE -fsanitize=address,undefined)
elseif(TONEBROOK_SANITIZE)
  target_compile_options(project_sanitizers INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  target_link_options(project_sanitizers INTERFACE -fsanitize=address,undefined)
endif()

# The thread sanitizer cannot share a build with the address sanitizer: its own configuration,
# for the tests that run more than one thread (label "threads").
option(TONEBROOK_THREAD_SANITIZE "Build with ThreadSanitizer" OFF)
if(TONEBROOK_THREAD_SANITIZE)
  if(TONEBROOK_SANITIZE)
    message(FATAL_ERROR "TONEBROOK_SANITIZE and TONEBROOK_THREAD_SANITIZE exclude each other")
  endif()
  target_compile_options(project_sanitizers INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(project_sanitizers INTERFACE -fsanitize=thread)
endif()

add_library(project_options INTERFACE)
target_compile_features(project_options INTERFACE cxx_std_20)
target_link_libraries(project_options INTERFACE project_warnings project_sanitizers)
target_include_directories(project_options INTERFACE ${PROJECT_SOURCE_DIR})

set(CMAKE_CXX_EXTENSIONS OFF)
set(CMAKE_EXPORT_COMPILE_COMMANDS ON)

# Release: optimised for size, every function and datum in its own section, and the linker drops
# the unreferenced ones. The provider hashes its own executable five times a second, so each byte
# it does not carry is work it does not do: -Os takes it from 471 KB to 270 KB and an idle tick
# from about 0.6 to 0.3 ms of CPU. The hot loops (SHA-256) are OpenSSL's, so no speed is lost
# where it counts; -Os comes after CMake's -O3 and wins.
target_compile_options(project_options INTERFACE
  $<$<CONFIG:Release>:-Os> $<$<CONFIG:Release>:-ffunction-sections>
  $<$<CONFIG:Release>:-fdata-sections>)
target_link_options(project_options INTERFACE $<$<CONFIG:Release>:LINKER:--gc-sections>)

# project_shipped: linked by the executables that are installed (the provider, the host, the
# client); a Release build strips their symbol tables, which nothing at run time reads.
add_library(project_shipped INTERFACE)
target_link_options(project_shipped INTERFACE $<$<CONFIG:Release>:LINKER:--strip-all>)
