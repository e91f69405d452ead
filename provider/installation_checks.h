#pragma once

#include <filesystem>
#include <string_view>

#include "exchange/records.h"
#include "platform/desktop/desktop.h"

namespace provider {

inline constexpr std::string_view kAddOnRepairSentence =
    "The installed add-on needs repair from Tonebrook Settings.";
inline constexpr std::string_view kHostIncompatibleSentence =
    "The linked Tonebrook is missing or incompatible. Open the intended Tonebrook and update the "
    "add-on in Settings.";

// Installation is what the checks establish: the receipt of the installed add-on and the bound
// copy of the host application.
struct Installation {
  FinderConversion::Receipt receipt;
  std::filesystem::path boundApplication;
};

// checkInstallation proves, in this order, that "receipt.json" of `root` reads and fits this
// provider, that the add-on package (the main bundle) equals the receipt's inventory, and that
// the bound host application is a compatible copy. Throws the receipt's read error, the
// inventory's error or boundApp's error unchanged; otherwise failure(kAddOnRepairSentence) or
// failure(kHostIncompatibleSentence). Reads only; changes nothing.
Installation checkInstallation(platform::Desktop& desktop, const std::filesystem::path& root);

// speaksProtocol: `document` is a JSON object, by the strict reading rules of the records (no
// member twice, valid UTF-8), whose values are all integers by the records' integer rule (1.0
// counts, 1.5 and values beyond 64 bits do not) and whose "version" equals the protocol
// version. The provider reads the file with FinderConversion::readDocument.
bool speaksProtocol(std::string_view document);

}  // namespace provider
