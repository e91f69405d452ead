#include "host/log.h"

#include <cstdio>
#include <string>

namespace host {

void logEvent(std::string_view line) {
  std::string text = "Tonebrook: ";
  text += line;
  text += '\n';
  std::fwrite(text.data(), 1, text.size(), stderr);
}

}  // namespace host
