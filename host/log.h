#pragma once

#include <string_view>

namespace host {

// logEvent records one line about something that went wrong (a request that could not be
// answered, a conversion that was stopped), with the request's identifier where there is one.
// Every log line of the host goes through here: to the user's journal, or standard error when
// there is none.
void logEvent(std::string_view line);

}  // namespace host
