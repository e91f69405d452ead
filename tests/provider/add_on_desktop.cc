#include "tests/provider/add_on_desktop.h"

namespace provider_test {

AddOnDesktop::AddOnDesktop(std::filesystem::path addOn, std::vector<std::string> arguments)
    : addOn_(std::move(addOn)), arguments_(std::move(arguments)), argv_(arguments_) {
  std::vector<char*> argv;
  for (std::string& argument : argv_) argv.push_back(argument.data());
  argv.push_back(nullptr);
  real_ = platform::makeDesktop(static_cast<int>(argv_.size()), argv.data());
}

std::optional<std::string> AddOnDesktop::mainBundleInfoString(const std::string& key) {
  std::optional<platform::Bundle> bundle = platform::Bundle::open(addOn_);
  return bundle ? bundle->infoString(key) : std::nullopt;
}

}  // namespace provider_test
