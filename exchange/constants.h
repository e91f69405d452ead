#pragma once

#include <array>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/core/error.h"

// FinderConversion is the common ground of the provider and the host application: constants,
// locations, records, record files, the lifecycle lock, the queue and the add-on checks.
// A namespace of constants and stateless operations only.
namespace FinderConversion {

using Error = platform::Error;

inline constexpr int protocolVersion = 1;
inline constexpr std::string_view serviceName = "Tonebrook Quick Conversion.service";
inline constexpr std::string_view bundleID = "app.tonebrook.Tonebrook";
inline constexpr std::array<std::string_view, 5> formats = {"wav", "mp3", "aac", "flac", "ogg"};
inline constexpr std::string_view kErrorDomain = "Tonebrook.FinderConversion";

// The host application's command line, as whoever launches it passes it: the queue-serving
// role, and in a verification run the state root it serves instead of the default one.
inline constexpr std::string_view kFinderServiceOption = "--finder-service";
inline constexpr std::string_view kVerifyFinderInboxOption = "--verify-finder-inbox";

// Files of the bound host application that the provider reads, relative to its bundle.
inline constexpr std::string_view kHostExecutable = "Contents/MacOS/Tonebrook";
inline constexpr std::string_view kHostProtocolFile =
    "Contents/Resources/FinderAddon/protocol.json";

// Fixed names inside the state root.
namespace names {
inline constexpr std::string_view kReceipt = "receipt.json";
inline constexpr std::string_view kRequests = "requests";
inline constexpr std::string_view kAcknowledgements = "acknowledgements";
inline constexpr std::string_view kRejected = "rejected";
inline constexpr std::string_view kLifecycleLock = "lifecycle.lock";
inline constexpr std::string_view kProviderLock = "provider.lock";
inline constexpr std::string_view kProviderState = "provider-state.json";
inline constexpr std::string_view kProviderRetire = "provider-retire.json";
inline constexpr std::string_view kProviderError = "provider-error.json";
inline constexpr std::string_view kPackagedInbox = "packaged-inbox.json";
}  // namespace names

// stateRoot: <home>/Library/Application Support/Tonebrook/FinderConversion, recomputed on
// every call from the home directory (platform::homeDirectory).
std::filesystem::path stateRoot();
// servicesRoot: <home>/Library/Services.
std::filesystem::path servicesRoot();

// failure builds the error record of a user-facing sentence: domain kErrorDomain, code 1.
Error failure(std::string sentence);

// prepare creates `directory` and its missing parents with mode 0700; existing directories are
// accepted unchanged. Throws the file system's error.
void prepare(const std::filesystem::path& directory);

// sameFile: both paths stat (following links) to the same device and inode; false when either
// stat fails.
bool sameFile(const std::filesystem::path& first, const std::filesystem::path& second);

}  // namespace FinderConversion
