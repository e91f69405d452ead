#include "platform/linux/launch.h"

#include <cerrno>
#include <thread>
#include <utility>

#include "platform/core/error.h"
#include "platform/core/spawn.h"
#include "platform/desktop/bundle.h"

namespace platform {
namespace {

// report calls the completion; what it throws is dropped so that the child is still reaped.
void report(const LaunchCompletion& completion, std::optional<RunningApplication> instance,
            std::optional<Error> error) {
  try {
    completion(std::move(instance), std::move(error));
  } catch (...) {  // NOLINT(bugprone-empty-catch): nobody on this thread could handle it
  }
}

// launchNow spawns, reports, then reaps; runs on the launch thread, which owns the child.
void launchNow(const std::filesystem::path& application, const std::vector<std::string>& args,
               const LaunchCompletion& completion) {
  const auto executable = bundleExecutable(application);
  if (!executable) {
    report(completion, std::nullopt, errnoError(ENOENT, application.native()));
    return;
  }
  std::error_code resolveError;
  const auto realExecutable = std::filesystem::canonical(*executable, resolveError);
  SpawnOptions options;
  options.arguments.push_back(executable->native());
  options.arguments.insert(options.arguments.end(), args.begin(), args.end());
  options.newSession = true;
  std::optional<ChildProcess> child;
  try {
    child = ChildProcess::spawn(options);
  } catch (const Error& error) {
    report(completion, std::nullopt, error);
    return;
  }
  RunningApplication instance{child->pid(), std::nullopt};
  if (!resolveError) instance.bundleURL = mainBundleOfExecutable(realExecutable);
  report(completion, instance, std::nullopt);
  try {
    child->wait();
  } catch (const Error&) {  // NOLINT(bugprone-empty-catch): already reaped, nothing is left
  }
}

}  // namespace

std::optional<std::filesystem::path> bundleExecutable(const std::filesystem::path& application) {
  const auto bundle = Bundle::open(application);
  if (!bundle) return std::nullopt;
  if (auto named = bundle->executablePath()) return named;
  auto base = application;
  if (!base.has_filename()) base = base.parent_path();  // "X.app/" names the bundle X.app
  return application / "Contents" / "MacOS" / base.stem();
}

void launchApplication(const std::filesystem::path& application,
                       const OpenConfiguration& configuration, LaunchCompletion completion) {
  std::thread([application, args = configuration.arguments, completion = std::move(completion)] {
    launchNow(application, args, completion);
  }).detach();
}

}  // namespace platform
