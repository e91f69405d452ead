#pragma once

// The D-Bus names both sides of the Services machinery agree on: the provider's bus object and
// the client that stands in for the desktop's Services menu.
namespace platform {

inline constexpr const char* kServicesObjectPath = "/app/tonebrook/Services";
inline constexpr const char* kServicesInterface = "app.tonebrook.Services";
inline constexpr const char* kServicesConvertMethod = "Convert";
inline constexpr const char* kServicesFailedError = "app.tonebrook.Services.Failed";

}  // namespace platform
