#pragma once

// The D-Bus names both sides of the Services machinery agree on: the provider's bus object and
// the client that stands in for the desktop's Services menu; and the desktop entry name that the
// installer and the notifications share.
namespace platform {

// The add-on's port name (NSPortName in its Info.plist), used as the provider's well-known bus
// name; the bus activation file and the client name it too.
inline constexpr const char* kAddOnPortName = "app.tonebrook.QuickConversion";

// The pasteboard keys a Convert call carries: file URL texts, and a property-list path list.
inline constexpr const char* kFileUrlPasteboardKey = "public.file-url";
inline constexpr const char* kFilenamesPasteboardKey = "NSFilenamesPboardType";

inline constexpr const char* kServicesObjectPath = "/app/tonebrook/Services";
inline constexpr const char* kServicesInterface = "app.tonebrook.Services";
inline constexpr const char* kServicesConvertMethod = "Convert";
inline constexpr const char* kServicesFailedError = "app.tonebrook.Services.Failed";

// The desktop's notification server and file manager, which the notifications use and the
// tests stand in for.
inline constexpr const char* kNotificationsName = "org.freedesktop.Notifications";
inline constexpr const char* kNotificationsPath = "/org/freedesktop/Notifications";
inline constexpr const char* kFileManagerName = "org.freedesktop.FileManager1";
inline constexpr const char* kFileManagerPath = "/org/freedesktop/FileManager1";

// The desktop's application entry of Tonebrook: the installer writes
// "<data>/applications/<kDesktopEntryName>.desktop", and every notification names it in its
// "desktop-entry" hint, so that the desktop attributes it to Tonebrook.
inline constexpr const char* kDesktopEntryName = "tonebrook";

}  // namespace platform
