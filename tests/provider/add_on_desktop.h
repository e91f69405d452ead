#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/desktop/desktop.h"

namespace provider_test {

// AddOnDesktop is the real Linux desktop seen from inside an installed add-on package: every
// operation goes to the real desktop, except that the main bundle is the given package (a test
// binary does not live inside one) and the arguments are the given ones.
class AddOnDesktop final : public platform::Desktop {
 public:
  AddOnDesktop(std::filesystem::path addOn, std::vector<std::string> arguments);

  void setAccessoryActivationPolicy() override { real_->setAccessoryActivationPolicy(); }
  void terminate() override { real_->terminate(); }
  void run() override { real_->run(); }
  platform::MonotonicTime now() const override { return real_->now(); }
  void runUntil(platform::MonotonicTime date) override { real_->runUntil(date); }
  std::shared_ptr<platform::Timer> scheduleRepeatingTimer(platform::Seconds interval,
                                                          std::function<void()> block) override {
    return real_->scheduleRepeatingTimer(interval, std::move(block));
  }
  void post(std::function<void()> work) override { real_->post(std::move(work)); }
  std::unique_ptr<platform::EntryWatch> watchForEntries(
      const std::filesystem::path& directory) override {
    return watches_ ? real_->watchForEntries(directory) : nullptr;
  }
  // withoutWatches: as a desktop whose kernel refuses every watch, for the polling fallback.
  void withoutWatches() { watches_ = false; }
  std::optional<platform::Bundle> openBundle(const std::filesystem::path& directory) override {
    return real_->openBundle(directory);
  }
  std::filesystem::path mainBundleURL() override { return addOn_; }
  std::optional<std::string> mainBundleInfoString(const std::string& key) override;
  platform::Pasteboard& pasteboard(const std::string& name) override {
    return real_->pasteboard(name);
  }
  bool startAccessingSecurityScopedResource(const platform::Url& location) override {
    return real_->startAccessingSecurityScopedResource(location);
  }
  void stopAccessingSecurityScopedResource(const platform::Url& location) override {
    real_->stopAccessingSecurityScopedResource(location);
  }
  const platform::Bookmarks& bookmarks() override { return real_->bookmarks(); }
  std::vector<platform::RunningApplication> runningApplications(
      const std::string& identifier) override {
    return real_->runningApplications(identifier);
  }
  platform::Log& log() override { return real_->log(); }
  void setServicesConnectionLostHandler(std::function<void()> handler) override {
    real_->setServicesConnectionLostHandler(std::move(handler));
  }
  void openApplication(const std::filesystem::path& application,
                       const platform::OpenConfiguration& configuration,
                       platform::LaunchCompletion completion) override {
    real_->openApplication(application, configuration, std::move(completion));
  }
  std::vector<std::string> arguments() override { return arguments_; }
  // The given arguments name the package's provider, which this test process stands in for.
  bool runsExecutable(const std::filesystem::path&) override { return true; }
  std::optional<std::string> setServicesProvider(platform::ServicesProvider& provider) override {
    return real_->setServicesProvider(provider);
  }
  void registerServicesProvider(platform::ServicesProvider& provider,
                                const std::string& portName) override {
    real_->registerServicesProvider(provider, portName);
  }

 private:
  std::filesystem::path addOn_;
  std::vector<std::string> arguments_;
  std::vector<std::string> argv_;  // storage behind the real desktop's argv
  std::unique_ptr<platform::Desktop> real_;
  bool watches_ = true;
};

}  // namespace provider_test
