# platform_core: the file system, locks, URLs, UUIDs, digests, Base64, bookmarks and running
# command-line tools.
add_library(platform_core
  ${CMAKE_CURRENT_LIST_DIR}/base64.cc
  ${CMAKE_CURRENT_LIST_DIR}/bookmark.cc
  ${CMAKE_CURRENT_LIST_DIR}/digest.cc
  ${CMAKE_CURRENT_LIST_DIR}/error.cc
  ${CMAKE_CURRENT_LIST_DIR}/files.cc
  ${CMAKE_CURRENT_LIST_DIR}/lock_file.cc
  ${CMAKE_CURRENT_LIST_DIR}/process.cc
  ${CMAKE_CURRENT_LIST_DIR}/run_tool.cc
  ${CMAKE_CURRENT_LIST_DIR}/unicode.cc
  ${CMAKE_CURRENT_LIST_DIR}/url.cc
  ${CMAKE_CURRENT_LIST_DIR}/uuid.cc)
target_include_directories(platform_core PUBLIC ${PROJECT_SOURCE_DIR})
target_compile_features(platform_core PUBLIC cxx_std_20)
target_link_libraries(platform_core
  PUBLIC nlohmann_json::nlohmann_json
  PRIVATE project_options PkgConfig::UUID PkgConfig::URIPARSER PkgConfig::UTF8PROC
          OpenSSL::Crypto)
