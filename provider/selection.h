#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "exchange/records.h"
#include "platform/desktop/desktop.h"

namespace provider {

inline constexpr std::string_view kChooseLocalFilesSentence = "Choose local audio files in Finder.";

// readSelection takes the selected files from a Services pasteboard: its file URLs when it
// offers a URL list (even an empty one), else its "NSFilenamesPboardType" path list, which
// must consist of absolute paths only. Throws failure(kChooseLocalFilesSentence) otherwise, and
// failure(kSelectionSentence), which enqueue would give, for more than kMaximumInputs file URLs.
std::vector<platform::Url> readSelection(const platform::Pasteboard& pasteboard);

// makeRequest builds a fresh request for `selection`: one Input per URL in order, each with a
// bookmark when one can be made (security-scoped access held only around it), and `format`
// exactly as given. A selection of more than FinderConversion::kMaximumInputs files, which
// enqueue refuses, gets no bookmarks at all. Nothing is validated or written here.
FinderConversion::Request makeRequest(platform::Desktop& desktop,
                                      std::vector<platform::Url> selection,
                                      const std::string& format);

}  // namespace provider
