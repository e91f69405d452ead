// Record files, prepare, sameFile and the request queue on real directories.
#include "exchange/record_files.h"

#include <gtest/gtest.h>

#include <string>

#include "support/test_support.h"

namespace test_support {
namespace {

using namespace FinderConversion;

const std::string kInvalid = "The add-on record is invalid or too large.";

// stringDocument: a JSON document that is one string, exactly `size` bytes long.
std::string stringDocument(std::size_t size) {
  return "\"" + std::string(size - 2, 'x') + "\"";
}

Request validRequest(std::size_t count = 1) {
  return Request{
      1, Uuid::random(), "mp3",
      std::vector<Input>(count, Input{Url::parse("file:///a.wav").value(), std::nullopt})};
}

TEST(RecordFilesTest, WriteAndReadBack) {
  TempDirectory dir;
  write(std::string_view("Only local files are supported."), dir / "provider-error.json");
  EXPECT_EQ(readText(dir / "provider-error.json"), "\"Only local files are supported.\"");
  EXPECT_EQ(read<std::string>(dir / "provider-error.json"), "Only local files are supported.");

  const Request request = validRequest();
  write(request, dir / "request.json");
  EXPECT_EQ(read<Request>(dir / "request.json"), request);
  write(validRequest(2), dir / "request.json");  // replaced whole
  EXPECT_EQ(read<Request>(dir / "request.json").inputs.size(), 2u);
  EXPECT_EQ(names(dir.path()), (std::set<std::string>{"provider-error.json", "request.json"}));

  EXPECT_ERRNO(write(request, dir / "missing" / "request.json"), ENOENT);
}

TEST(RecordFilesTest, SizeLimitIsTwoMillionBytes) {
  TempDirectory dir;
  writeText(dir / "limit.json", stringDocument(2'000'000));
  EXPECT_EQ(read<std::string>(dir / "limit.json").size(), 1'999'998u);
  writeText(dir / "over.json", stringDocument(2'000'001));
  EXPECT_FAILURE_SENTENCE(read<std::string>(dir / "over.json"), kInvalid);
  writeText(dir / "over.txt", std::string(2'000'001, '{'));  // refused before decoding
  EXPECT_FAILURE_SENTENCE(read<std::string>(dir / "over.txt"), kInvalid);
}

TEST(RecordFilesTest, WhatIsNotARecordFile) {
  TempDirectory dir;
  write(std::string_view("small and valid"), dir / "valid.json");
  std::filesystem::create_symlink(dir / "valid.json", dir / "link.json");
  makeFifo(dir / "fifo.json");
  writeText(dir / "empty.json", "");
  writeText(dir / "broken.json", "{\"version\":");
  std::filesystem::create_directory(dir / "directory.json");

  EXPECT_FAILURE_SENTENCE(read<std::string>(dir / "link.json"), kInvalid);
  EXPECT_FAILURE_SENTENCE(read<std::string>(dir / "fifo.json"), kInvalid);  // and no hang
  EXPECT_ERRNO(read<std::string>(dir / "missing.json"), ENOENT);
  EXPECT_ERRNO(read<std::string>(dir / "directory.json"), EISDIR);
  EXPECT_ERROR_DOMAIN(read<std::string>(dir / "empty.json"), platform::kJsonDomain);
  EXPECT_ERROR_DOMAIN(read<Receipt>(dir / "broken.json"), platform::kJsonDomain);
  EXPECT_ERROR_DOMAIN(read<Receipt>(dir / "valid.json"), platform::kJsonDomain);
}

TEST(RecordFilesTest, TryReadGivesNothingForWhatReadRefuses) {
  TempDirectory dir;
  const Request request = validRequest();
  write(request, dir / "valid.json");
  std::filesystem::create_symlink(dir / "valid.json", dir / "link.json");
  makeFifo(dir / "fifo.json");
  writeText(dir / "over.json", stringDocument(2'000'001));
  writeText(dir / "partial.json", encode(request).substr(0, 20));
  writeText(dir / "other.json", "\"a text, not a request\"");
  std::filesystem::create_directory(dir / "directory.json");

  EXPECT_EQ(tryRead<Request>(dir / "valid.json"), request);
  for (const char* name : {"missing.json", "link.json", "fifo.json", "over.json", "partial.json",
                           "other.json", "directory.json"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(tryRead<Request>(dir / name), std::nullopt);
  }
}

TEST(PrepareTest, CreatesPrivateParentsAndLeavesExistingOnes) {
  TempDirectory dir;
  std::filesystem::create_directory(dir / "open");
  std::filesystem::permissions(dir / "open", std::filesystem::perms(0755));
  prepare(dir / "open" / "a" / "b" / "c");
  for (const char* relative : {"open/a", "open/a/b", "open/a/b/c"}) {
    SCOPED_TRACE(relative);
    EXPECT_EQ(permissions(dir / relative), std::filesystem::perms::owner_all);
  }
  EXPECT_EQ(permissions(dir / "open"), std::filesystem::perms(0755));
  prepare(dir / "open");  // already there: fine, unchanged
  EXPECT_EQ(permissions(dir / "open"), std::filesystem::perms(0755));

  writeText(dir / "file", "x");
  EXPECT_ERRNO(prepare(dir / "file"), EEXIST);
  // A trailing "/" asks for a directory all the same.
  EXPECT_ERRNO(prepare((dir / "file").native() + "/"), EEXIST);
}

TEST(SameFileTest, DeviceAndInodeDecide) {
  TempDirectory dir;
  writeText(dir / "a", "same");
  writeText(dir / "copy", "same");
  std::filesystem::create_symlink(dir / "a", dir / "link");
  std::filesystem::create_hard_link(dir / "a", dir / "hard");
  struct Case {
    const char* first;
    const char* second;
    bool same;
  };
  const Case cases[] = {{"a", "a", true},
                        {"a", "link", true},
                        {"hard", "a", true},
                        {"a", "copy", false},
                        {"a", "missing", false},
                        {"missing", "a", false},
                        {"missing", "missing", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.first) + " " + c.second);
    EXPECT_EQ(sameFile(dir / c.first, dir / c.second), c.same);
  }
}

TEST(EnqueueTest, WritesOneCompactFileNamedAfterTheId) {
  TempDirectory dir;
  const std::filesystem::path root = dir / "state";
  const Request request = validRequest(3);
  enqueue(request, root);
  const std::string name = request.id.text() + ".json";
  EXPECT_EQ(name.size(), 41u);
  EXPECT_EQ(fileName(request.id), name);
  EXPECT_EQ(names(requests(root)), std::set<std::string>{name});
  EXPECT_TRUE(names(acknowledgements(root)).empty());
  EXPECT_EQ(permissions(requests(root)), std::filesystem::perms::owner_all);
  EXPECT_EQ(permissions(acknowledgements(root)), std::filesystem::perms::owner_all);
  EXPECT_EQ(readText(requests(root) / name), encode(request));
  EXPECT_EQ(readText(requests(root) / name).find_first_of(" \n"), std::string::npos);

  enqueue(request, root);  // the same request again: still one file
  EXPECT_EQ(names(requests(root)), std::set<std::string>{name});
  EXPECT_EQ(read<Request>(requests(root) / name), request);
}

TEST(EnqueueTest, AnInvalidRequestCreatesNothing) {
  TempDirectory dir;
  Request remote = validRequest();
  remote.inputs[0].url = Url::parse("file://server/a.wav").value();
  EXPECT_FAILURE_SENTENCE(enqueue(validRequest(17), dir / "state"),
                          std::string(kSelectionSentence));
  EXPECT_FAILURE_SENTENCE(enqueue(remote, dir / "state"), std::string(kLocalitySentence));
  EXPECT_TRUE(names(dir.path()).empty());
}

TEST(EnqueueTest, QueueDirectoryInTheWayFailsWithTheFileSystemError) {
  TempDirectory dir;
  writeText(dir / "requests", "not a directory");
  EXPECT_ERRNO(enqueue(validRequest(), dir.path()), EEXIST);
}

// A link in place of a queue directory would take the request or the answer outside the state
// root: it is refused with the file system's error and nothing is written where it leads.
TEST(EnqueueTest, ALinkInPlaceOfAQueueDirectoryIsNeverFollowed) {
  for (const std::string_view linked : {names::kRequests, names::kAcknowledgements}) {
    SCOPED_TRACE(linked);
    TempDirectory dir;
    const std::filesystem::path root = dir / "state";
    std::filesystem::create_directories(root);
    std::filesystem::create_directories(dir / "elsewhere");
    std::filesystem::create_directory_symlink(dir / "elsewhere", root / linked);
    EXPECT_ERRNO(enqueue(validRequest(), root), ELOOP);
    if (linked == names::kAcknowledgements) {
      EXPECT_ERRNO(refuse(root, Uuid::random(), "No place."), ELOOP);
    }
    EXPECT_TRUE(names(dir / "elsewhere").empty());
  }
}

TEST(RefuseTest, WritesTheRefusalNamedAfterTheIdAndPreparesTheDirectory) {
  TempDirectory dir;
  const std::filesystem::path root = dir / "state";
  const Uuid id = Uuid::random();
  refuse(root, id, "Tonebrook could not launch: gone.");
  EXPECT_EQ(names(acknowledgements(root)), std::set<std::string>{fileName(id)});
  EXPECT_EQ(permissions(acknowledgements(root)), std::filesystem::perms::owner_all);
  Acknowledgement expected;
  expected.id = id;
  expected.message = "Tonebrook could not launch: gone.";
  const std::filesystem::path file = acknowledgements(root) / fileName(id);
  EXPECT_EQ(readText(file), encode(expected));
  EXPECT_FALSE(read<Acknowledgement>(file).accepted);

  refuse(root, id, "Second answer.");  // replaces the first whole
  EXPECT_EQ(read<Acknowledgement>(file).message, "Second answer.");

  writeText(dir / "file", "x");
  EXPECT_ERRNO(refuse(dir / "file", id, "No place."), ENOTDIR);
}

}  // namespace
}  // namespace test_support
