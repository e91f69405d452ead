#include "tests/provider/sandbox.h"

#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "exchange/constants.h"
#include "exchange/inventory.h"
#include "exchange/record_files.h"
#include "platform/core/uuid.h"
#include "platform/linux/bookmark.h"

namespace provider_test {
namespace {

namespace fs = std::filesystem;

std::string infoPlist(const std::string& identifier, const std::string& executable) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
         "<key>CFBundleIdentifier</key><string>" +
         identifier + "</string><key>CFBundleExecutable</key><string>" + executable +
         "</string><key>CFBundleVersion</key><string>7.1</string></dict></plist>\n";
}

void makeExecutable(const fs::path& file) {
  fs::permissions(file, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
}

void makeAddOn(const fs::path& package) {
  fs::create_directories(package / "Contents/MacOS");
  fs::create_directories(package / "Contents/Resources");
  writeText(package / "Contents/Info.plist",
            infoPlist("app.tonebrook.QuickConversion", "TonebrookQuickConversion"));
  writeText(package / "Contents/MacOS/TonebrookQuickConversion", "#!/bin/sh\nexit 0\n");
  makeExecutable(package / "Contents/MacOS/TonebrookQuickConversion");
  writeText(package / "Contents/Resources/Menu.strings", "\"Convert to MP3\" = \"MP3\";\n");
}

std::vector<fs::path> filesIn(const fs::path& directory) {
  std::vector<fs::path> files;
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(directory, ignored)) {
    files.push_back(entry.path());
  }
  return files;
}

}  // namespace

void writeText(const fs::path& file, const std::string& text) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out) throw std::runtime_error("cannot write " + file.string());
}

std::string readText(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void makeHostBundle(const fs::path& bundle, const std::string& identifier,
                    const fs::path& executable) {
  fs::create_directories(bundle / "Contents/MacOS");
  fs::create_directories(bundle / "Contents/Resources/FinderAddon");
  writeText(bundle / "Contents/Info.plist", infoPlist(identifier, "Tonebrook"));
  writeText(bundle / "Contents/Resources/FinderAddon/protocol.json", "{\"version\":1}");
  fs::path target = bundle / "Contents/MacOS/Tonebrook";
  if (executable.empty()) {
    writeText(target, "#!/bin/sh\nexit 0\n");
  } else {
    fs::copy_file(executable, target);
  }
  makeExecutable(target);
}

Sandbox::Sandbox(const fs::path& hostExecutableSource, RootPlace rootPlace)
    : directory_(temporary_.path()),
      root_(rootPlace == RootPlace::own
                ? directory_ / "state"
                : directory_ / "Library/Application Support/Tonebrook/FinderConversion"),
      addOn_(directory_ / "Services" / FinderConversion::serviceName),
      host_(directory_ / "Applications/Tonebrook.app") {
  fs::create_directories(directory_ / "Music");
  makeAddOn(addOn_);
  makeHostBundle(host_, std::string(FinderConversion::bundleID), hostExecutableSource);
  fs::create_directories(directory_ / "Provider");
  writeText(providerExecutable(), "provider build 1");
  FinderConversion::prepare(root_);
  writeReceipt(receipt());
}

fs::path Sandbox::providerExecutable() const {
  return directory_ / "Provider/TonebrookQuickConversion";
}

FinderConversion::Receipt Sandbox::receipt() const {
  FinderConversion::Receipt receipt;
  receipt.version = 1;
  receipt.payloadVersion = "7.1";
  receipt.appBundleID = std::string(FinderConversion::bundleID);
  receipt.appPath = platform::Url::fromFilePath(host_);
  receipt.appBookmark = platform::makeBookmark(platform::Url::fromFilePath(host_));
  receipt.files = FinderConversion::inventory(addOn_);
  return receipt;
}

void Sandbox::writeReceipt(const FinderConversion::Receipt& receipt) const {
  FinderConversion::write(receipt, root_ / FinderConversion::names::kReceipt);
}

fs::path Sandbox::audio(const std::string& name) const {
  fs::path file = directory_ / "Music" / name;
  writeText(file, "RIFF");
  return file;
}

std::vector<fs::path> Sandbox::queued() const {
  return filesIn(FinderConversion::requests(root_));
}

std::vector<fs::path> Sandbox::rejected() const {
  return filesIn(root_ / FinderConversion::names::kRejected);
}

fs::path Sandbox::acknowledgementOf(const platform::Uuid& id) const {
  return FinderConversion::acknowledgements(root_) / FinderConversion::fileName(id);
}

FinderConversion::Request Sandbox::onlyQueuedRequest() const {
  std::vector<fs::path> files = queued();
  if (files.size() != 1) throw std::runtime_error("expected one queued request");
  return FinderConversion::read<FinderConversion::Request>(files.front());
}

void Sandbox::answer(bool accepted, const std::string& message) const {
  FinderConversion::Acknowledgement answer;
  answer.id = onlyQueuedRequest().id;
  answer.accepted = accepted;
  answer.message = message;
  FinderConversion::write(answer, acknowledgementOf(answer.id));
}

std::optional<std::string> Sandbox::providerError() const {
  fs::path file = root_ / FinderConversion::names::kProviderError;
  if (!fs::exists(file)) return std::nullopt;
  return FinderConversion::read<std::string>(file);
}

void after(platform::Desktop& desktop, platform::Seconds delay, std::function<void()> work) {
  auto timer = std::make_shared<std::shared_ptr<platform::Timer>>();
  *timer = desktop.scheduleRepeatingTimer(delay, [timer, work = std::move(work)] {
    if (!*timer) return;
    std::shared_ptr<platform::Timer> once = std::move(*timer);
    once->invalidate();
    work();
  });
}

}  // namespace provider_test
