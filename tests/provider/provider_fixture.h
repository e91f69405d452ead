#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/testing/fake_desktop.h"
#include "provider/provider.h"
#include "tests/provider/sandbox.h"

namespace provider_test {

// ProviderTest wires a provider to the desktop double over a fresh sandbox: the double's main
// bundle is the installed add-on and argument 0 its executable.
class ProviderTest : public ::testing::Test {
 protected:
  ProviderTest() {
    desktop.setArguments({sandbox.providerExecutable().string()});
    desktop.setMainBundleURL(sandbox.addOn());
  }

  std::shared_ptr<Provider> makeProvider(bool verification = false) {
    return Provider::create(desktop, sandbox.root(), verification);
  }

  // convert hands `files` to the provider as file URLs with `format`; the error slot's content.
  std::optional<std::string> convert(Provider& provider,
                                     const std::vector<std::filesystem::path>& files,
                                     const std::optional<std::string>& format = "mp3") {
    std::vector<platform::Url> urls;
    for (const auto& file : files) urls.push_back(platform::Url::fromFilePath(file));
    platform::Pasteboard& pasteboard = desktop.pasteboard("services");
    pasteboard.clearContents();
    pasteboard.writeURLs(urls);
    return convert(provider, pasteboard, format);
  }

  std::optional<std::string> convert(Provider& provider, platform::Pasteboard& pasteboard,
                                     const std::optional<std::string>& format = "mp3") {
    std::optional<std::string> error;
    provider.convert(pasteboard, format, error);
    return error;
  }

  Sandbox sandbox;
  platform::testing::FakeDesktop desktop;
};

}  // namespace provider_test
