#include "provider/installation_checks.h"

#include <exception>

#include "exchange/constants.h"
#include "exchange/inventory.h"
#include "exchange/json_form.h"
#include "exchange/record_files.h"
#include "platform/core/file_operations.h"
#include "platform/core/json.h"

namespace provider {
namespace {

using FinderConversion::failure;
using FinderConversion::Receipt;

Receipt checkReceipt(const std::filesystem::path& root) {
  auto receipt = FinderConversion::read<Receipt>(root / FinderConversion::names::kReceipt);
  if (receipt.version != FinderConversion::protocolVersion ||
      receipt.appBundleID != FinderConversion::bundleID) {
    throw failure(std::string(kAddOnRepairSentence));
  }
  return receipt;
}

void checkAddOn(platform::Desktop& desktop, const Receipt& receipt) {
  FinderConversion::Inventory actual = FinderConversion::inventory(desktop.mainBundleURL());
  if (!FinderConversion::matchesInventory(actual, receipt.files)) {
    throw failure(std::string(kAddOnRepairSentence));
  }
}

// readsAsProtocol: the protocol file reads by the record-file rules (bounded, never through a
// link, a regular file only, so a FIFO cannot block the delivery and the lifecycle lock with
// it) and speaks the protocol. Any reason it cannot be read gives the host sentence.
bool readsAsProtocol(const std::filesystem::path& path) {
  try {
    return speaksProtocol(FinderConversion::readDocument(path));
  } catch (const std::exception&) {
    return false;
  }
}

bool isCompatibleHost(platform::Desktop& desktop, const Receipt& receipt,
                      const std::filesystem::path& application) {
  std::optional<platform::Bundle> bundle = desktop.openBundle(application);
  if (!bundle || bundle->identifier() != receipt.appBundleID) return false;
  if (!platform::isExecutableRegularFile(application / FinderConversion::kHostExecutable))
    return false;
  return readsAsProtocol(application / FinderConversion::kHostProtocolFile);
}

}  // namespace

bool speaksProtocol(std::string_view document) {
  FinderConversion::json_form::Json value;
  try {
    value = FinderConversion::json_form::parseDocument(document);
  } catch (const platform::Error&) {
    return false;
  }
  if (!value.is_object()) return false;
  for (const auto& member : value.items()) {
    if (!platform::strictInteger(member.value())) return false;
  }
  const auto version = value.find("version");
  return version != value.end() &&
         platform::strictInteger(*version) == FinderConversion::protocolVersion;
}

Installation checkInstallation(platform::Desktop& desktop, const std::filesystem::path& root) {
  Receipt receipt = checkReceipt(root);
  checkAddOn(desktop, receipt);
  std::filesystem::path application = FinderConversion::boundApp(receipt, desktop.bookmarks());
  if (!isCompatibleHost(desktop, receipt, application)) {
    throw failure(std::string(kHostIncompatibleSentence));
  }
  return Installation{std::move(receipt), std::move(application)};
}

}  // namespace provider
