# Debian 12 packages only (scripts/install-deps.sh installs them); nothing is downloaded here.
find_package(PkgConfig REQUIRED)
find_package(nlohmann_json 3 REQUIRED)
find_package(OpenSSL REQUIRED COMPONENTS Crypto)
find_package(Threads REQUIRED)
pkg_check_modules(URIPARSER REQUIRED IMPORTED_TARGET liburiparser)
pkg_check_modules(UTF8PROC REQUIRED IMPORTED_TARGET libutf8proc)
# The Linux backend's own: bundles' Info (libplist) and the session bus (sd-bus). libuuid is a
# library of its own only here; elsewhere (macOS) its functions are part of the C library.
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  pkg_check_modules(UUID REQUIRED IMPORTED_TARGET uuid)
  pkg_check_modules(PLIST REQUIRED IMPORTED_TARGET libplist-2.0)
  pkg_check_modules(SYSTEMD REQUIRED IMPORTED_TARGET libsystemd)
endif()
if(BUILD_TESTING)
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()
find_package(benchmark REQUIRED)
