#include "exchange/record_files.h"

#include "platform/core/files.h"

namespace FinderConversion {

void writeDocument(std::string_view document, const std::filesystem::path& location,
                   platform::Durability durability) {
  platform::writeFileAtomically(location, document, durability);
}

namespace {

std::string documentOf(platform::RecordRead read) {
  if (read.status != platform::RecordRead::Status::ok) {
    // A link, an oversized file and a FIFO, socket or device are not record files.
    throw failure(std::string(kInvalidRecordSentence));
  }
  return std::move(read.bytes);
}

}  // namespace

std::string readDocument(const std::filesystem::path& location) {
  return documentOf(platform::readRecordFile(location, kRecordSizeLimit));
}

void writeDocument(std::string_view document, platform::Directory& directory, std::string_view name,
                   platform::Durability durability) {
  directory.writeAtomically(name, document, durability);
}

std::string readDocument(const platform::Directory& directory, std::string_view name) {
  return documentOf(directory.readRecord(name, kRecordSizeLimit));
}

platform::Directory stateDirectory(const std::filesystem::path& root, std::string_view name) {
  return platform::Directory::prepare(root / name, 0700);
}

std::optional<platform::Directory> existingStateDirectory(const std::filesystem::path& root,
                                                          std::string_view name) {
  return platform::Directory::openIfPresent(root / name);
}

std::filesystem::path requests(const std::filesystem::path& root) {
  return root / names::kRequests;
}

std::filesystem::path acknowledgements(const std::filesystem::path& root) {
  return root / names::kAcknowledgements;
}

std::string fileName(const Uuid& id) {
  return id.text() + ".json";
}

void enqueue(const Request& request, const std::filesystem::path& root) {
  validate(request);
  platform::Directory queue = stateDirectory(root, names::kRequests);
  stateDirectory(root, names::kAcknowledgements);
  write(request, queue, fileName(request.id));
}

void refuse(const std::filesystem::path& root, const Uuid& id, std::string message) {
  Acknowledgement refusal;
  refusal.id = id;
  refusal.accepted = false;
  refusal.message = std::move(message);
  platform::Directory answers = stateDirectory(root, names::kAcknowledgements);
  write(refusal, answers, fileName(id));
}

LifecycleLock LifecycleLock::acquire(const std::filesystem::path& root) {
  prepare(root);
  std::optional<platform::LockFile> file = platform::LockFile::open(root / names::kLifecycleLock);
  if (!file) throw failure(std::string(kLockUnopenableSentence));
  if (!file->tryLockExclusive()) throw failure(std::string(kLockHeldSentence));
  return LifecycleLock(std::move(*file));
}

LifecycleLock::~LifecycleLock() {
  file_.unlock();
  file_.close();
}

}  // namespace FinderConversion
