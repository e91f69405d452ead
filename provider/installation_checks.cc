#include "provider/installation_checks.h"

#include <cmath>
#include <nlohmann/json.hpp>
#include <optional>
#include <system_error>

#include "exchange/constants.h"
#include "exchange/inventory.h"
#include "exchange/record_files.h"
#include "platform/core/file_operations.h"
#include "platform/core/files.h"

namespace provider {
namespace {

using FinderConversion::failure;
using FinderConversion::Receipt;

Receipt checkReceipt(const std::filesystem::path& root) {
  auto receipt = FinderConversion::read<Receipt>(root / FinderConversion::names::receipt);
  if (receipt.version != FinderConversion::protocolVersion ||
      receipt.appBundleID != FinderConversion::bundleID) {
    throw failure(std::string(addOnRepairSentence));
  }
  return receipt;
}

void checkAddOn(platform::Desktop& desktop, const Receipt& receipt) {
  FinderConversion::Inventory actual = FinderConversion::inventory(desktop.mainBundleURL());
  if (!FinderConversion::matchesInventory(actual, receipt.files)) {
    throw failure(std::string(addOnRepairSentence));
  }
}

// integralNumber: the value of a JSON number with an integral value; booleans are not numbers.
std::optional<double> integralNumber(const nlohmann::json& value) {
  if (value.is_number_integer()) return value.get<double>();
  if (!value.is_number_float()) return std::nullopt;
  double number = value.get<double>();
  if (!std::isfinite(number) || std::trunc(number) != number) return std::nullopt;
  return number;
}

std::optional<std::string> readWhole(const std::filesystem::path& path) {
  std::error_code error;
  // A FIFO or device in its place would block the delivery, and the lifecycle lock with it.
  if (!std::filesystem::is_regular_file(path, error)) return std::nullopt;
  try {
    return platform::readWholeFile(path);
  } catch (const std::exception&) {
    return std::nullopt;  // the host sentence stands for any reason the file cannot be read
  }
}

bool isCompatibleHost(platform::Desktop& desktop, const Receipt& receipt,
                      const std::filesystem::path& application) {
  std::optional<platform::Bundle> bundle = desktop.openBundle(application);
  if (!bundle || bundle->identifier() != receipt.appBundleID) return false;
  if (!platform::isExecutableRegularFile(application / hostExecutable)) return false;
  std::optional<std::string> protocol = readWhole(application / hostProtocolFile);
  return protocol && speaksProtocol(*protocol);
}

}  // namespace

bool speaksProtocol(std::string_view document) {
  nlohmann::json value = nlohmann::json::parse(document, nullptr, false);
  if (value.is_discarded() || !value.is_object()) return false;
  for (const auto& member : value.items()) {
    if (!integralNumber(member.value())) return false;
  }
  auto version = value.find("version");
  return version != value.end() &&
         integralNumber(*version) == static_cast<double>(FinderConversion::protocolVersion);
}

Installation checkInstallation(platform::Desktop& desktop, const std::filesystem::path& root) {
  Receipt receipt = checkReceipt(root);
  checkAddOn(desktop, receipt);
  std::filesystem::path application = FinderConversion::boundApp(receipt, desktop.bookmarks());
  if (!isCompatibleHost(desktop, receipt, application)) {
    throw failure(std::string(hostIncompatibleSentence));
  }
  return Installation{std::move(receipt), std::move(application)};
}

}  // namespace provider
