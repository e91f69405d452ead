#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

// Reading desktop entries the way their readers do, written from the Desktop Entry rules
// rather than from the code that writes them: key file values with their escapes, and Exec
// lines split into arguments with the field codes expanded.
namespace test_support {

// keyFileValue: the value of `key` in `[group]`, its escapes (\s \n \t \r \\) undone; nullopt
// when there is none.
inline std::optional<std::string> keyFileValue(const std::string& text, const std::string& group,
                                               const std::string& key) {
  std::istringstream lines(text);
  std::string line;
  bool inGroup = false;
  while (std::getline(lines, line)) {
    if (line.starts_with("[")) {
      inGroup = line == "[" + group + "]";
      continue;
    }
    if (!inGroup || !line.starts_with(key + "=")) continue;
    std::string value;
    for (std::size_t at = key.size() + 1; at < line.size(); ++at) {
      if (line[at] != '\\' || at + 1 == line.size()) {
        value += line[at];
        continue;
      }
      const char escaped = line[++at];
      const std::string_view from = "sntr\\";
      const std::string_view to = " \n\t\r\\";
      const std::size_t which = from.find(escaped);
      if (which == std::string_view::npos) ADD_FAILURE() << "unknown escape \\" << escaped;
      value += which == std::string_view::npos ? escaped : to[which];
    }
    return value;
  }
  return std::nullopt;
}

// execArguments splits an Exec value (escapes already undone) into arguments: words separated
// by spaces, a word in double quotes keeping its spaces with `"`, "`", "$" and "\" escaped by a
// backslash; "%%" is a "%", and a bare %U becomes one argument per file.
inline std::vector<std::string> execArguments(std::string_view exec,
                                              const std::vector<std::string>& files) {
  std::vector<std::string> arguments;
  std::size_t at = 0;
  while (at < exec.size()) {
    if (exec[at] == ' ') {
      ++at;
      continue;
    }
    if (exec.substr(at, 2) == "%U" && (at + 2 == exec.size() || exec[at + 2] == ' ')) {
      arguments.insert(arguments.end(), files.begin(), files.end());
      at += 2;
      continue;
    }
    std::string word;
    const bool quoted = exec[at] == '"';
    if (quoted) ++at;
    for (; at < exec.size() && (quoted ? exec[at] != '"' : exec[at] != ' '); ++at) {
      if (quoted && exec[at] == '\\' && at + 1 < exec.size() &&
          std::string_view("\"`$\\").find(exec[at + 1]) != std::string_view::npos) {
        ++at;
      } else if (exec.substr(at, 2) == "%%") {
        ++at;
      }
      word += exec[at];
    }
    if (quoted && at == exec.size()) ADD_FAILURE() << "unclosed quote in " << exec;
    if (quoted) ++at;
    arguments.push_back(word);
  }
  return arguments;
}

}  // namespace test_support
