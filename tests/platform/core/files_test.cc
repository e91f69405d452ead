// The file-system part of the platform core on real temporary directories.
#include "platform/core/files.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <string>

#include "platform/core/directory.h"
#include "platform/core/error.h"
#include "platform/core/file_operations.h"
#include "platform/testing/processes.h"
#include "support/test_support.h"

namespace test_support {
namespace {

using platform::Durability;
using platform::ItemKind;
using platform::RecordRead;

TEST(AtomicWriteTest, ReplacesTheTargetAndLeavesNoTemporaryFile) {
  for (const Durability durability : {Durability::flushed, Durability::unflushed}) {
    TempDirectory dir;
    writeText(dir / "record.json", "old");
    platform::writeFileAtomically(dir / "record.json", "new", durability);
    EXPECT_EQ(readText(dir / "record.json"), "new");
    EXPECT_EQ(names(dir.path()), std::set<std::string>{"record.json"});
  }
}

TEST(AtomicWriteTest, FailureRemovesTheTemporaryFileAndKeepsTheTarget) {
  TempDirectory dir;
  std::filesystem::create_directory(dir / "occupied");  // rename onto a directory fails
  writeText(dir / "occupied" / "inside", "kept");
  EXPECT_ERRNO(platform::writeFileAtomically(dir / "occupied", "new"), EISDIR);
  EXPECT_EQ(names(dir.path()), std::set<std::string>{"occupied"});
  EXPECT_EQ(readText(dir / "occupied" / "inside"), "kept");

  EXPECT_ERRNO(platform::writeFileAtomically(dir / "missing" / "record.json", "x"), ENOENT);
  EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
}

// A staged replacement touches nothing but its hidden temporary file until commit, which is one
// rename; dropped uncommitted it leaves nothing.
TEST(AtomicWriteTest, StagedReplacementWaitsForItsCommit) {
  TempDirectory dir;
  writeText(dir / "record.json", "old");
  {
    platform::Directory::StagedEntry dropped = platform::stageFile(dir / "record.json", "unused");
    EXPECT_EQ(readText(dir / "record.json"), "old");
    EXPECT_EQ(names(dir.path()).size(), 2u);
  }
  EXPECT_EQ(names(dir.path()), std::set<std::string>{"record.json"});

  // Its mode is given before the rename, so the entry never appears with another.
  platform::Directory::StagedEntry staged = platform::stageFile(dir / "record.json", "new", 0755);
  for (const std::string& name : names(dir.path())) {
    if (name.starts_with(".record.json.tmp-")) {
      EXPECT_EQ(permissions(dir / name), std::filesystem::perms(0755));
    }
  }
  std::filesystem::remove_all(dir / "record.json");
  std::filesystem::create_directory(dir / "record.json");  // the rename cannot replace it
  EXPECT_ERRNO(staged.commit(), EISDIR);
  std::filesystem::remove(dir / "record.json");
  staged.commit();
  EXPECT_EQ(readText(dir / "record.json"), "new");
  EXPECT_EQ(permissions(dir / "record.json"), std::filesystem::perms(0755));
  EXPECT_EQ(names(dir.path()), std::set<std::string>{"record.json"});
  EXPECT_ERRNO(staged.commit(), EINVAL);
}

TEST(RecordFileReadTest, OutcomeByKindAndSize) {
  TempDirectory dir;
  writeText(dir / "small", "12345");
  std::filesystem::create_symlink(dir / "small", dir / "link");
  std::filesystem::create_directory(dir / "directory");
  makeFifo(dir / "fifo");  // must not hang: no writer ever opens it

  EXPECT_EQ(platform::readRecordFile(dir / "small", 5).bytes, "12345");
  EXPECT_EQ(platform::readRecordFile(dir / "small", 4).status, RecordRead::Status::tooLarge);
  EXPECT_EQ(platform::readRecordFile(dir / "link", 100).status, RecordRead::Status::symbolicLink);
  EXPECT_EQ(platform::readRecordFile(dir / "fifo", 100).status, RecordRead::Status::notRegularFile);
  EXPECT_EQ(platform::readRecordFile("/dev/zero", 100).status, RecordRead::Status::notRegularFile);
  EXPECT_ERRNO(platform::readRecordFile(dir / "directory", 100), EISDIR);
  EXPECT_ERRNO(platform::readRecordFile(dir / "missing", 100), ENOENT);
}

// The link and the size are facts of the entry, tested before it is opened: an oversized record
// is refused as such even when this process could not read it.
TEST(RecordFileReadTest, SizeIsTestedBeforeTheFileIsOpened) {
  TempDirectory dir;
  std::filesystem::permissions(dir.path(), std::filesystem::perms::others_exec,
                               std::filesystem::perm_options::add);
  writeText(dir / "large", std::string(101, 'x'));
  writeText(dir / "small", "{}");
  for (const char* name : {"large", "small"}) {
    std::filesystem::permissions(dir / name, std::filesystem::perms::none);
  }
  const int status = platform::testing::runUnprivileged([&] {
    if (platform::readRecordFile(dir / "large", 100).status != RecordRead::Status::tooLarge) {
      return 1;
    }
    try {
      (void)platform::readRecordFile(dir / "small", 100);
      return 2;
    } catch (const platform::Error& error) {
      return error.code() == EACCES ? 0 : 3;
    }
  });
  if (status == platform::testing::kCannotDropPrivileges) GTEST_SKIP() << "cannot drop privileges";
  EXPECT_EQ(status, 0) << "1: the size was not tested first; 2, 3: an unreadable file was read";
}

// A directory opened once is worked in by name, and no link is followed: not one in place of
// the directory, not one at an entry's name, not a name that leads out.
TEST(DirectoryTest, NothingIsReadOrWrittenThroughALink) {
  TempDirectory dir;
  std::filesystem::create_directories(dir / "elsewhere");
  writeText(dir / "elsewhere" / "record.json", "outside");
  std::filesystem::create_directory_symlink(dir / "elsewhere", dir / "linked");
  EXPECT_ERRNO(platform::Directory::open(dir / "linked"), ELOOP);
  EXPECT_ERRNO(platform::Directory::prepare(dir / "linked", 0700), ELOOP);
  EXPECT_ERRNO(platform::Directory::openIfPresent(dir / "linked"), ELOOP);
  EXPECT_FALSE(platform::Directory::openIfPresent(dir / "missing"));
  EXPECT_TRUE(platform::Directory::open(dir / "linked", platform::Directory::Link::follow)
                  .readRecord("record.json", 100)
                  .status == RecordRead::Status::ok);

  platform::Directory queue = platform::Directory::prepare(dir / "state" / "queue", 0700);
  EXPECT_EQ(permissions(dir / "state" / "queue"), std::filesystem::perms::owner_all);
  std::filesystem::create_symlink(dir / "elsewhere" / "record.json", dir / "state/queue/a.json");
  EXPECT_EQ(queue.readRecord("a.json", 100).status, RecordRead::Status::symbolicLink);
  EXPECT_FALSE(queue.lockExisting("a.json"));
  queue.writeAtomically("a.json", "inside");  // replaces the link itself
  EXPECT_EQ(readText(dir / "state/queue/a.json"), "inside");
  EXPECT_EQ(readText(dir / "elsewhere" / "record.json"), "outside");
  for (const char* name : {"../escape.json", "..", ".", "", "a/b"}) {
    SCOPED_TRACE(name);
    EXPECT_ERRNO(queue.writeAtomically(name, "x"), EINVAL);
    EXPECT_ERRNO((void)queue.readRecord(name, 100), EINVAL);
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "state" / "escape.json"));
}

// Folders below a base the caller trusts (a home directory) are created, or opened, one by one,
// and a link at any of them is refused: nothing is written where it leads.
TEST(DirectoryTest, PrepareBelowABaseFollowsNoLinkUnderIt) {
  TempDirectory dir;
  std::filesystem::create_directories(dir / "home" / "share");
  std::filesystem::create_directories(dir / "elsewhere");
  std::filesystem::create_directory_symlink(dir / "home", dir / "linked-home");
  platform::Directory made =
      platform::Directory::prepareBelow(dir / "linked-home", "share/kio/menus", 0755);
  EXPECT_EQ(made.path(), dir / "linked-home" / "share/kio/menus");
  EXPECT_EQ(permissions(dir / "home/share/kio"), std::filesystem::perms(0755));
  made.writeAtomically("entry.desktop", "[Desktop Entry]\n", Durability::flushed, 0755);
  EXPECT_EQ(permissions(dir / "home/share/kio/menus/entry.desktop"), std::filesystem::perms(0755));

  std::filesystem::create_directory_symlink(dir / "elsewhere", dir / "home/share/dbus-1");
  EXPECT_ERRNO(platform::Directory::prepareBelow(dir / "home", "share/dbus-1/services", 0755),
               ELOOP);
  EXPECT_ERRNO(platform::Directory::prepareBelow(dir / "home", "share/../escape", 0755), EINVAL);
  EXPECT_TRUE(std::filesystem::is_empty(dir / "elsewhere"));
}

TEST(DirectoryTest, MovesListsAndRemovesByName) {
  TempDirectory dir;
  platform::Directory queue = platform::Directory::prepare(dir / "queue", 0700);
  platform::Directory other = platform::Directory::prepare(dir / "other", 0700);
  queue.writeAtomically("a.json", "a");
  queue.writeAtomically("b.json", "b");
  std::filesystem::create_directory(dir / "queue" / "folder");
  std::filesystem::create_symlink("a.json", dir / "queue" / "link");

  std::map<std::string, ItemKind> kinds;
  for (const platform::Directory::Entry& entry : queue.entries()) kinds[entry.name] = entry.kind;
  EXPECT_EQ(kinds, (std::map<std::string, ItemKind>{{"a.json", ItemKind::regularFile},
                                                    {"b.json", ItemKind::regularFile},
                                                    {"folder", ItemKind::directory},
                                                    {"link", ItemKind::symbolicLink}}));
  EXPECT_FALSE(queue.renameWithoutReplacing("a.json", "b.json"));
  EXPECT_TRUE(queue.renameWithoutReplacing("a.json", "c.json"));
  queue.moveWithoutReplacing("c.json", other, "c.json");
  EXPECT_ERRNO(queue.moveWithoutReplacing("b.json", other, "c.json"), EEXIST);
  EXPECT_EQ(readText(dir / "other" / "c.json"), "a");
  EXPECT_TRUE(queue.remove("b.json"));
  EXPECT_FALSE(queue.remove("b.json"));
  EXPECT_EQ(names(dir / "queue"), (std::set<std::string>{"folder", "link"}));
}

TEST(ItemKindTest, DoesNotFollowAFinalLink) {
  TempDirectory dir;
  writeText(dir / "file", "x");
  std::filesystem::create_symlink(dir / "file", dir / "link");
  std::filesystem::create_symlink(dir / "nowhere", dir / "dangling");
  makeFifo(dir / "fifo");
  EXPECT_EQ(platform::itemKind(dir / "file"), ItemKind::regularFile);
  EXPECT_EQ(platform::itemKind(dir.path()), ItemKind::directory);
  EXPECT_EQ(platform::itemKind(dir / "link"), ItemKind::symbolicLink);
  EXPECT_EQ(platform::itemKind(dir / "fifo"), ItemKind::other);
  EXPECT_EQ(platform::itemKind(dir / "missing"), ItemKind::missing);
  EXPECT_ERRNO(platform::itemKind(dir / "file" / "below"), ENOTDIR);
  EXPECT_EQ(platform::resolvedItemKind(dir / "link"), ItemKind::regularFile);
  EXPECT_EQ(platform::resolvedItemKind(dir / "dangling"), ItemKind::missing);
}

TEST(FileOperationsTest, FileTestsFollowLinks) {
  TempDirectory dir;
  writeText(dir / "file", "file");
  writeText(dir / "program", "#!/bin/sh\n");
  std::filesystem::permissions(dir / "program", std::filesystem::perms::owner_all);
  std::filesystem::create_directory(dir / "folder");
  std::filesystem::create_symlink(dir / "program", dir / "program-link");
  std::filesystem::create_symlink(dir / "nowhere", dir / "dangling");
  const struct {
    const char* name;
    bool exists;
    bool executable;
  } cases[] = {
      {"file", true, false},        {"program", true, true},    {"folder", true, false},
      {"program-link", true, true}, {"dangling", false, false}, {"missing", false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(platform::itemExists(dir / c.name), c.exists);
    EXPECT_EQ(platform::isExecutableRegularFile(dir / c.name), c.executable);
  }
}

TEST(FileOperationsTest, MoveItemFailsRatherThanReplace) {
  TempDirectory dir;
  const auto file = dir / "file";
  const auto folder = dir / "folder";
  const auto target = dir / "target";
  writeText(file, "file");
  std::filesystem::create_directory(folder);
  writeText(target, "target");
  try {
    platform::moveItemWithoutReplacing(file, target);
    FAIL() << "replaced the target";
  } catch (const platform::Error& error) {
    EXPECT_EQ(error.domain(), platform::kPosixDomain);
    EXPECT_EQ(error.code(), EEXIST);
  }
  EXPECT_TRUE(std::filesystem::exists(file));
  EXPECT_EQ(readText(target), "target");

  platform::moveItemWithoutReplacing(file, folder / "moved");
  EXPECT_FALSE(std::filesystem::exists(file));
  EXPECT_TRUE(std::filesystem::exists(folder / "moved"));
  EXPECT_THROW(platform::moveItemWithoutReplacing(file, folder / "again"), platform::Error);
}

TEST(CreateDirectoriesTest, ModeIsExactAndExistingDirectoriesStay) {
  TempDirectory dir;
  // 0777 would come out 0755 under the usual umask if the mode were left to it.
  platform::createDirectories(dir / "a" / "b", 0777);
  EXPECT_EQ(permissions(dir / "a"), std::filesystem::perms::all);
  EXPECT_EQ(permissions(dir / "a" / "b"), std::filesystem::perms::all);
  platform::createDirectories(dir / "a" / "b" / "c", 0700);
  EXPECT_EQ(permissions(dir / "a"), std::filesystem::perms::all);
  EXPECT_EQ(permissions(dir / "a" / "b" / "c"), std::filesystem::perms::owner_all);

  writeText(dir / "file", "x");
  EXPECT_ERRNO(platform::createDirectories(dir / "file", 0700), EEXIST);
  EXPECT_ERRNO(platform::createDirectories(dir / "file" / "below", 0700), ENOTDIR);
}

TEST(LockFileTest, CreatedPrivateAndRefusedThroughALinkOrOnASpecialFile) {
  TempDirectory dir;
  {
    std::optional<platform::LockFile> lock = platform::LockFile::open(dir / "a.lock");
    ASSERT_TRUE(lock);
    EXPECT_TRUE(lock->tryLockExclusive());
    std::optional<platform::LockFile> second = platform::LockFile::open(dir / "a.lock");
    ASSERT_TRUE(second);
    EXPECT_FALSE(second->tryLockExclusive());  // another open file description
    lock->unlock();
    EXPECT_TRUE(second->tryLockExclusive());
  }
  EXPECT_EQ(permissions(dir / "a.lock"),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  EXPECT_EQ(std::filesystem::file_size(dir / "a.lock"), 0u);

  std::filesystem::create_symlink(dir / "a.lock", dir / "link.lock");
  std::filesystem::create_directory(dir / "dir.lock");
  makeFifo(dir / "fifo.lock");
  for (const char* name : {"link.lock", "dir.lock", "fifo.lock"}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(platform::LockFile::open(dir / name));
  }
}

TEST(LockFileTest, OpenExistingLocksARegularFileItNeitherCreatesNorFollows) {
  TempDirectory dir;
  writeText(dir / "taken.json", "{}");
  std::optional<platform::LockFile> first = platform::LockFile::openExisting(dir / "taken.json");
  ASSERT_TRUE(first);
  EXPECT_TRUE(first->tryLockExclusive());
  std::optional<platform::LockFile> second = platform::LockFile::openExisting(dir / "taken.json");
  ASSERT_TRUE(second);
  EXPECT_FALSE(second->tryLockExclusive());
  // Given up for the process's lifetime: still held, though the object holds nothing.
  first->keepUntilExit();
  first.reset();
  EXPECT_FALSE(second->tryLockExclusive());

  std::filesystem::create_symlink(dir / "taken.json", dir / "link.json");
  std::filesystem::create_directory(dir / "dir.json");
  makeFifo(dir / "fifo.json");
  for (const char* name : {"missing.json", "link.json", "dir.json", "fifo.json"}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(platform::LockFile::openExisting(dir / name));
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "missing.json"));
}

TEST(RegularFileTest, OpensOnlyARegularFileAndNeverWaitsOnAFifo) {
  TempDirectory dir;
  writeText(dir / "tone.wav", "RIFF");
  std::filesystem::create_symlink(dir / "tone.wav", dir / "link.wav");
  std::filesystem::create_directory(dir / "folder.wav");
  makeFifo(dir / "fifo.wav");  // no writer: a blocking open would wait for ever
  const struct {
    const char* name;
    bool opens;
  } cases[] = {{"tone.wav", true},
               {"link.wav", true},
               {"folder.wav", false},
               {"fifo.wav", false},
               {"missing.wav", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<platform::RegularFile> file = platform::RegularFile::open(dir / c.name);
    EXPECT_EQ(file.has_value(), c.opens);
    if (file) {
      EXPECT_GE(file->descriptor(), 3);
    }
  }
}

TEST(RenameWithoutReplacingTest, MovesToAFreeNameAndLeavesATakenOneAlone) {
  TempDirectory dir;
  writeText(dir / ".partial", "new");
  writeText(dir / "taken.mp3", "other");
  EXPECT_FALSE(platform::renameWithoutReplacing(dir / ".partial", dir / "taken.mp3"));
  EXPECT_EQ(readText(dir / "taken.mp3"), "other");
  EXPECT_EQ(readText(dir / ".partial"), "new");
  EXPECT_TRUE(platform::renameWithoutReplacing(dir / ".partial", dir / "free.mp3"));
  EXPECT_EQ(readText(dir / "free.mp3"), "new");
  EXPECT_FALSE(std::filesystem::exists(dir / ".partial"));
  EXPECT_ERRNO(platform::renameWithoutReplacing(dir / ".partial", dir / "again.mp3"), ENOENT);
}

TEST(CheckCanCreateTest, LeavesNothingAndReportsWhyNot) {
  TempDirectory dir;
  EXPECT_NO_THROW(platform::checkCanCreate(dir / "probe"));
  EXPECT_EQ(names(dir.path()), std::set<std::string>{});
  // Never over something already there, not even a dangling link, which stays.
  writeText(dir / "taken", "kept");
  std::filesystem::create_symlink(dir / "nowhere", dir / "link");
  EXPECT_ERRNO(platform::checkCanCreate(dir / "taken"), EEXIST);
  EXPECT_ERRNO(platform::checkCanCreate(dir / "link"), EEXIST);
  EXPECT_EQ(readText(dir / "taken"), "kept");
  EXPECT_FALSE(std::filesystem::exists(dir / "nowhere"));
  EXPECT_ERRNO(platform::checkCanCreate(dir / "no folder" / "probe"), ENOENT);
}

TEST(ProcessFactsTest, HomeDirectoryPrefersAnAbsoluteHome) {
  const char* saved = std::getenv("HOME");
  const std::string previous = saved != nullptr ? saved : "";
  setenv("HOME", "/Users/example", 1);
  EXPECT_EQ(platform::homeDirectory(), "/Users/example");
  setenv("HOME", "relative/home", 1);  // not absolute: the user database decides
  EXPECT_TRUE(platform::homeDirectory().is_absolute());
  unsetenv("HOME");
  EXPECT_TRUE(platform::homeDirectory().is_absolute());
  if (saved != nullptr) setenv("HOME", previous.c_str(), 1);
}

TEST(ProcessFactsTest, ClockAndProcessId) {
  // 2024-01-01 is 725,846,400 s after the reference date; the clock must be past it.
  EXPECT_GT(platform::secondsSinceReferenceDate(), 725846400.0);
  EXPECT_GT(platform::processId(), 0);
}

}  // namespace
}  // namespace test_support
