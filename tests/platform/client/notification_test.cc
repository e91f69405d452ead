// platform::showNotification against a real dbus-daemon of the test's own and the stand-in
// notification server and file manager on it; the dialog tools as scripts on PATH.
#include "platform/client/notification.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/client/notification_server.h"
#include "platform/core/services_names.h"
#include "platform/core/unicode.h"
#include "platform/testing/desktop_services_stand_in.h"
#include "platform/testing/private_bus.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using platform::DesktopNotification;
using platform::NotificationChannel;
using platform::Url;
using platform::testing::DesktopServicesStandIn;
using platform::testing::PrivateBus;
using test_support::readText;
using test_support::writeText;

// ScopedEnvironment sets variables (nullopt: removes them) for this single-threaded test and
// restores them when it goes.
class ScopedEnvironment {
 public:
  explicit ScopedEnvironment(const std::map<std::string, std::optional<std::string>>& values) {
    for (const auto& [name, value] : values) {
      const char* old = std::getenv(name.c_str());  // NOLINT(concurrency-mt-unsafe)
      saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
      set(name, value);
    }
  }
  ~ScopedEnvironment() {
    for (const auto& [name, value] : saved_) set(name, value);
  }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  static void set(const std::string& name, const std::optional<std::string>& value) {
    if (value) {
      ::setenv(name.c_str(), value->c_str(), 1);  // NOLINT(concurrency-mt-unsafe)
    } else {
      ::unsetenv(name.c_str());  // NOLINT(concurrency-mt-unsafe)
    }
  }
  std::map<std::string, std::optional<std::string>> saved_;
};

class NotificationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(directory_ / "bus");
    fs::create_directories(directory_ / "bin");
    fs::create_directories(directory_ / "starter");
    bus_.emplace(directory_ / "bus");
    starter_.emplace(directory_ / "starter");
    // The user's session bus, with no starter bus in between; no dialog tools.
    environment_.emplace(std::map<std::string, std::optional<std::string>>{
        {"DBUS_SESSION_BUS_ADDRESS", bus_->address()},
        {"DBUS_STARTER_ADDRESS", std::nullopt},
        {"DBUS_STARTER_BUS_TYPE", std::nullopt},
        {"PATH", (directory_ / "bin").string()}});
  }

  // tool puts a dialog tool on PATH that records its arguments and exits with `status`.
  void tool(const std::string& name, int status) {
    const fs::path script = directory_ / "bin" / name;
    writeText(script, "#!/bin/sh\nfor a; do printf '%s|' \"$a\"; done > '" +
                          (directory_ / name).string() + "'\nexit " + std::to_string(status) +
                          "\n");
    fs::permissions(script, fs::perms::owner_all);
  }

  test_support::TempDirectory directory_{"notification"};
  std::optional<PrivateBus> bus_;
  std::optional<PrivateBus> starter_;  // a second bus, the one that started the process
  std::optional<ScopedEnvironment> environment_;
  const std::vector<Url> items_{Url::fromFilePath("/music/a b.mp3"),
                                Url::fromFilePath("/music/caf\xe9.mp3")};
};

TEST_F(NotificationTest, TheLookFollowsTheOutcomeAndEveryOneNamesTheDesktopEntry) {
  DesktopServicesStandIn server(bus_->address());
  const struct {
    const char* name;
    DesktopNotification notification;
    const char* icon;
    std::uint8_t urgency;
  } cases[] = {
      {"success",
       {"Converted to MP3", "Tonebrook converted 1 file.", false, {}},
       "audio-x-generic",
       1},
      {"failure",
       {"Could not convert to MP3", "\u201cx.wav\u201d: not an audio file", true, {}},
       "dialog-error",
       2},
      // Not valid UTF-8: the bus would refuse the call.
      {"repaired", {"caf\xe9", "caf\xe9", false, {}}, "audio-x-generic", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const platform::NotificationResult result = platform::showNotification(c.notification);
    EXPECT_EQ(result.channel, NotificationChannel::notificationServer);
    EXPECT_EQ(result.problem, "");
    const platform::testing::ReceivedNotification received = server.notifications().back();
    EXPECT_EQ(received.appName, "Tonebrook");
    EXPECT_EQ(received.icon, c.icon);
    EXPECT_EQ(received.urgency, c.urgency);
    EXPECT_EQ(received.desktopEntry, platform::kDesktopEntryName);
    EXPECT_EQ(received.summary, platform::validUtf8(c.notification.summary));
    EXPECT_EQ(received.body, platform::validUtf8(c.notification.body));
    EXPECT_EQ(received.actions, std::vector<std::string>{});
    EXPECT_EQ(received.expireTimeout, -1);
  }
}

TEST_F(NotificationTest, ABodyIsEscapedOnlyForAServerThatReadsMarkup) {
  const DesktopNotification notification{
      "Could not convert to MP3", "\u201cR&B <live>.wav\u201d: not an audio file", true, {}};
  for (const bool markup : {false, true}) {
    SCOPED_TRACE(markup ? "markup" : "plain");
    std::vector<std::string> capabilities{"body"};
    if (markup) capabilities.emplace_back("body-markup");
    DesktopServicesStandIn server(bus_->address(), capabilities);
    platform::showNotification(notification);
    ASSERT_EQ(server.notifications().size(), 1u);
    EXPECT_EQ(
        server.notifications()[0].body,
        markup ? "\u201cR&amp;B &lt;live&gt;.wav\u201d: not an audio file" : notification.body);
  }
}

// With files to show, the notification offers "Show in Files" and waits for the user: the
// action shows the files; a dismissal, the bus going or the time running out ends the wait.
TEST_F(NotificationTest, ShowInFilesIsServedUntilTheUserAnswersOrTheWaitEnds) {
  const DesktopNotification notification{"Converted to MP3", "Tonebrook converted 2 files.", false,
                                         items_};
  enum class End { action, dismissal, busGone, timeout };
  // The bus goes last: the test's bus is gone afterwards.
  for (const End end : {End::action, End::dismissal, End::timeout, End::busGone}) {
    SCOPED_TRACE(static_cast<int>(end));
    auto server = std::make_unique<DesktopServicesStandIn>(bus_->address());
    const std::chrono::seconds wait = end == End::timeout ? 1s : 60s;
    auto shown = std::async(std::launch::async,
                            [&] { return platform::showNotification(notification, wait); });
    ASSERT_TRUE(server->waitForNotifications(1, 10s));
    const platform::testing::ReceivedNotification received = server->notifications()[0];
    EXPECT_EQ(received.actions, (std::vector<std::string>{"show-in-files", "Show in Files"}));
    if (end == End::action) server->invokeAction(received.id, "show-in-files");
    if (end == End::dismissal) server->dismiss(received.id);
    if (end == End::busGone) bus_.reset();
    ASSERT_EQ(shown.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(shown.get().channel, NotificationChannel::notificationServer);
    if (end == End::busGone) continue;
    const std::vector<platform::testing::ShowItemsCall> calls = server->shownItems();
    if (end == End::action) {
      ASSERT_EQ(calls.size(), 1u);
      EXPECT_EQ(calls[0].uris, (std::vector<std::string>{items_[0].text(), items_[1].text()}));
      EXPECT_EQ(calls[0].startupId, DesktopServicesStandIn::kActivationToken);
    } else {
      EXPECT_EQ(calls.size(), 0u);
    }
  }
}

TEST_F(NotificationTest, WithoutActionsOnTheServerNothingWaits) {
  DesktopServicesStandIn server(bus_->address(), {"body"});
  const auto result = platform::showNotification({"Converted", "x", false, items_}, 60s);
  EXPECT_EQ(result.channel, NotificationChannel::notificationServer);
  EXPECT_EQ(server.notifications().at(0).actions, std::vector<std::string>{});
}

// The host inherits the environment the bus gave the provider: the bus that started it wins when
// it is a session bus; a starter bus of another kind, or one gone, leaves the user's session bus.
TEST_F(NotificationTest, TheStarterSessionBusComesFirst) {
  const PrivateBus& starter = *starter_;
  const std::string gone = "unix:path=" + (directory_ / "no-bus").string();
  const struct {
    const char* name;
    std::string starterAddress;
    const char* starterType;
    bool reachesStarter;
  } cases[] = {
      {"starter session bus", starter.address(), "session", true},
      {"starter of another kind", starter.address(), "system", false},
      {"starter bus gone", gone, "session", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DesktopServicesStandIn onStarter(starter.address());
    DesktopServicesStandIn onSession(bus_->address());
    const ScopedEnvironment variables(
        {{"DBUS_STARTER_ADDRESS", c.starterAddress}, {"DBUS_STARTER_BUS_TYPE", c.starterType}});
    platform::showNotification({"Converted to MP3", "Tonebrook converted 1 file.", false, {}});
    EXPECT_EQ(onStarter.notifications().size(), c.reachesStarter ? 1u : 0u);
    EXPECT_EQ(onSession.notifications().size(), c.reachesStarter ? 0u : 1u);
  }
}

TEST_F(NotificationTest, WithoutAServerTheDialogToolsInTurnThenNothing) {
  const DesktopNotification notification{"Could not convert to MP3", "\u201cx.wav\u201d: gone",
                                         true, items_};
  const struct {
    const char* name;
    std::optional<int> zenity;  // its exit status, when it is installed
    std::optional<int> kdialog;
    NotificationChannel channel;
  } cases[] = {
      {"zenity", 0, 0, NotificationChannel::zenity},
      {"zenity's own timeout", 5, 0, NotificationChannel::zenity},
      {"zenity fails, kdialog", 1, 0, NotificationChannel::kdialog},
      {"kdialog only", std::nullopt, 0, NotificationChannel::kdialog},
      {"nothing", std::nullopt, std::nullopt, NotificationChannel::none},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (const char* name : {"zenity", "kdialog"}) {
      fs::remove(directory_ / "bin" / name);
      fs::remove(directory_ / name);
    }
    if (c.zenity) tool("zenity", *c.zenity);
    if (c.kdialog) tool("kdialog", *c.kdialog);
    EXPECT_EQ(platform::showNotification(notification, 60s).channel, c.channel);
  }
  tool("kdialog", 0);
  platform::showNotification(notification);
  EXPECT_EQ(readText(directory_ / "kdialog"),
            "--title|Could not convert to MP3|--passivepopup|\u201cx.wav\u201d: gone|10|");
  tool("zenity", 0);
  platform::showNotification(notification);
  EXPECT_EQ(readText(directory_ / "zenity"),
            "--error|--no-markup|--title|Could not convert to MP3|--text|\u201cx.wav\u201d: "
            "gone|--timeout=10|");
}

}  // namespace
