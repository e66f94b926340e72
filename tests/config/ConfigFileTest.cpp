#include "ConfigFile.h"
#include "FileMessages.h"
#include "crc16.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <random>
#include <vector>
#ifdef _WIN32
#include <memory>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;
using namespace v38;

namespace {

class ConfigFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::random_device entropy;
        folder = fs::temp_directory_path() / ("v38-file-" + std::to_string(entropy()));
        ASSERT_TRUE(fs::create_directory(folder));
    }
    void TearDown() override {
        std::error_code ignored;
        fs::permissions(folder, fs::perms::owner_all, ignored);
        fs::remove_all(folder, ignored);
    }

    static std::vector<std::uint8_t> contents(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    static void put(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
    std::vector<std::string> filesInFolder() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder))
            names.push_back(entry.path().filename().string());
        return names;
    }

    // A symbolic link, by the system's own call; false where none can be made.
    static bool makeLink(const fs::path& target, const fs::path& link) {
#ifdef _WIN32
        return CreateSymbolicLinkW(link.c_str(), fs::path(target).make_preferred().c_str(),
                                   SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) &&
               isLink(link);
#else
        std::error_code error;
        fs::create_symlink(target, link, error);
        return !error;
#endif
    }
    static bool isLink(const fs::path& path) {
#ifdef _WIN32
        const DWORD attributes = GetFileAttributesW(path.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
#else
        return fs::is_symlink(path);
#endif
    }

    static ConfigImage sampleImage() {
        std::mt19937 random(514);
        ConfigImage image;
        for (auto& b : image)
            b = std::uint8_t(random());
        return image;
    }
    static std::vector<std::uint8_t> fileOf(const ConfigImage& image) {
        const ConfigFileBytes bytes = encodeConfigFile(image);
        return {bytes.begin(), bytes.end()};
    }

    fs::path folder;
};

} // namespace

TEST_F(ConfigFileTest, DefaultConfigurationIsWrittenAs19Then511FFThenC5CD) {
    const fs::path path = folder / "default.bin";
    ASSERT_EQ(writeConfigFile(path, ConfigImage::defaults()), FileStatus::Ok);
    std::vector<std::uint8_t> expected(514, 0xFF);
    expected[0] = 0x19;
    expected[512] = 0xC5;
    expected[513] = 0xCD;
    EXPECT_EQ(contents(path), expected);
    EXPECT_EQ(filesInFolder(), std::vector<std::string>{"default.bin"});
}

TEST_F(ConfigFileTest, EveryByteRoundTrips) {
    const fs::path path = folder / "sample.bin";
    const ConfigImage written = sampleImage(); // flag bits 6 and 7 included
    ASSERT_EQ(writeConfigFile(path, written), FileStatus::Ok);
    ConfigImage read = ConfigImage::erased();
    ASSERT_EQ(readConfigFile(path, read), FileStatus::Ok);
    EXPECT_EQ(read, written);
}

TEST_F(ConfigFileTest, OnlyTheFirst514BytesCount) {
    const ConfigImage image = sampleImage();
    std::vector<std::uint8_t> bytes = fileOf(image);
    std::vector<std::uint8_t> longer = bytes;
    longer.resize(600, 0xAB);
    put(folder / "long.bin", longer);
    ConfigImage read = ConfigImage::defaults();
    EXPECT_EQ(readConfigFile(folder / "long.bin", read), FileStatus::Ok);
    EXPECT_EQ(read, image);
}

TEST_F(ConfigFileTest, ShortOrDamagedFilesAreRefusedAndTheImageKept) {
    const std::vector<std::uint8_t> good = fileOf(sampleImage());
    std::vector<std::vector<std::uint8_t>> bad;
    bad.emplace_back(good.begin(), good.end() - 1); // 513 bytes
    bad.emplace_back();                             // empty
    bad.push_back(good);
    std::swap(bad.back()[512], bad.back()[513]); // swapped CRC bytes
    ASSERT_NE(good[512], good[513]);
    bad.push_back(good);
    bad.back()[200] ^= 0x01; // one flipped bit
    std::vector<std::uint8_t> longButBad = bad.back();
    longButBad.resize(1000, 0x00);
    bad.push_back(longButBad);

    for (std::size_t n = 0; n < bad.size(); ++n) {
        const fs::path path = folder / ("bad" + std::to_string(n) + ".bin");
        put(path, bad[n]);
        ConfigImage image = ConfigImage::defaults();
        EXPECT_EQ(readConfigFile(path, image), FileStatus::BadFile) << n;
        EXPECT_EQ(image, ConfigImage::defaults()) << n;
    }
}

TEST_F(ConfigFileTest, WhatIsNotARegularReadableFileCannotBeOpened) {
    fs::create_directory(folder / "sub.bin");
    std::vector<fs::path> paths = {folder / "missing.bin", folder / "nofolder" / "x.bin",
                                   folder / "sub.bin", ""};
#ifdef _WIN32
    // Device names reach a device in every folder and with any extension.
    for (const char* device : {"NUL", "nul.bin", "COM1", "com3.bin", "Aux.bin", "LPT1", "CON"})
        paths.push_back(folder / device);
    paths.push_back("NUL");
#else
    paths.push_back("/dev/null");
    paths.push_back("/dev/zero");
    put(folder / "locked.bin", fileOf(sampleImage()));
    ::chmod((folder / "locked.bin").c_str(), 0);
    if (::geteuid() != 0) // root reads a file without permission
        paths.push_back(folder / "locked.bin");
#endif
    for (const fs::path& path : paths) {
        ConfigImage image = ConfigImage::defaults();
        EXPECT_EQ(readConfigFile(path, image), FileStatus::CannotOpen) << path;
        EXPECT_EQ(image, ConfigImage::defaults()) << path;
    }
}

TEST_F(ConfigFileTest, AnExistingFileIsReplacedWithoutAQuestionKeepingItsPermissions) {
    const fs::path path = folder / "existing.bin";
    put(path, std::vector<std::uint8_t>(2000, 0x55));
#ifndef _WIN32
    ::chmod(path.c_str(), 0640);
#endif
    ASSERT_EQ(writeConfigFile(path, sampleImage()), FileStatus::Ok);
    EXPECT_EQ(contents(path), fileOf(sampleImage()));
    EXPECT_EQ(filesInFolder(), std::vector<std::string>{"existing.bin"});
#ifndef _WIN32
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
#endif
}

TEST_F(ConfigFileTest, SavingThroughALinkWritesWhereTheLinkPointsAndKeepsTheLink) {
    const fs::path real = folder / "real.bin";
    put(real, fileOf(ConfigImage::defaults()));
    fs::create_directory(folder / "sub");
    if (!makeLink(real, folder / "link.bin")) // Windows asks for a privilege; Wine 8 makes none
        GTEST_SKIP() << "no symbolic link can be made here";
    makeLink(folder / "new.bin", folder / "dangling.bin");
    // Relative targets count from the link's folder, not from the working folder.
    makeLink("sub/rel.bin", folder / "relative.bin");
    makeLink("../chained.bin", folder / "sub" / "hop.bin");
    makeLink("sub/hop.bin", folder / "chain.bin");
    for (const char* name : {"link.bin", "dangling.bin", "relative.bin", "chain.bin"})
        EXPECT_EQ(writeConfigFile(folder / name, sampleImage()), FileStatus::Ok) << name;
    for (const char* name : {"link.bin", "dangling.bin", "relative.bin", "chain.bin"})
        EXPECT_TRUE(isLink(folder / name)) << name;
    for (const fs::path& written :
         {real, folder / "new.bin", folder / "sub" / "rel.bin", folder / "chained.bin"})
        EXPECT_EQ(contents(written), fileOf(sampleImage())) << written;

    // A link into a missing folder, or a loop, cannot be written; the link stays.
    makeLink(folder / "nofolder" / "x.bin", folder / "nowhere.bin");
    makeLink("loop.bin", folder / "loop.bin");
    for (const char* name : {"nowhere.bin", "loop.bin"}) {
        EXPECT_EQ(writeConfigFile(folder / name, sampleImage()), FileStatus::CannotOpen) << name;
        EXPECT_TRUE(isLink(folder / name)) << name;
    }
}

TEST_F(ConfigFileTest, UnwritableTargetsCannotBeOpenedAndKeepWhatWasThere) {
    const std::vector<std::uint8_t> old = fileOf(ConfigImage::defaults());
    fs::create_directory(folder / "dir.bin");
    EXPECT_EQ(writeConfigFile(folder / "dir.bin", sampleImage()), FileStatus::CannotOpen);
    EXPECT_TRUE(fs::is_directory(folder / "dir.bin"));
    EXPECT_EQ(writeConfigFile(folder / "nofolder" / "x.bin", sampleImage()),
              FileStatus::CannotOpen);
    EXPECT_EQ(writeConfigFile("", sampleImage()), FileStatus::CannotOpen);
#ifdef _WIN32
    // Device names reach a device in every folder and with any extension.
    for (const char* device : {"NUL", "nul.bin", "COM1", "com3.bin", "Aux.bin", "LPT1"}) {
        EXPECT_EQ(writeConfigFile(folder / device, sampleImage()), FileStatus::CannotOpen)
            << device;
    }
    EXPECT_EQ(writeConfigFile(folder / "COM10.bin", sampleImage()), FileStatus::Ok);
    EXPECT_EQ(writeConfigFile(folder / "console.bin", sampleImage()), FileStatus::Ok);
    // A read-only file is kept.
    const fs::path kept = folder / "kept.bin";
    put(kept, old);
    fs::permissions(kept, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    EXPECT_EQ(writeConfigFile(kept, sampleImage()), FileStatus::CannotOpen);
    EXPECT_EQ(contents(kept), old);
    fs::permissions(kept, fs::perms::owner_write, fs::perm_options::add);
#else
    // A device is never replaced by a file, not even by root.
    EXPECT_EQ(writeConfigFile("/dev/full", sampleImage()), FileStatus::CannotOpen);
    EXPECT_EQ(writeConfigFile("/dev/null", sampleImage()), FileStatus::CannotOpen);
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
#endif
}

TEST_F(ConfigFileTest, ANameOfTheLongestLengthCanBeSaved) {
    const fs::path path = folder / (std::string(251, 'n') + ".bin");
    ASSERT_EQ(writeConfigFile(path, sampleImage()), FileStatus::Ok);
    EXPECT_EQ(contents(path), fileOf(sampleImage()));
    EXPECT_EQ(filesInFolder().size(), 1u);
}

#ifndef _WIN32
// Runs `step` in a child process, as the user nobody when `asNobody` and we are root
// (so without root's power over permissions), and gives its exit code, or 128 plus
// the signal that ended it.
int inChild(bool asNobody, const std::function<int()>& step) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (asNobody && ::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(100);
        ::_exit(step());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
int unprivileged(const std::function<int()>& step) {
    return inChild(true, step);
}

// A writable file in a folder we cannot write to is written in place; a read-only one
// there is kept; and an in-place write that fails half-way still says so.
TEST_F(ConfigFileTest, AWritableFileInAnUnwritableFolderIsWrittenInPlace) {
    const std::vector<std::uint8_t> old(600, 0x55);
    const fs::path ro = folder / "ro";
    fs::create_directory(ro);
    for (const char* name : {"open.bin", "kept.bin", "short.bin"}) {
        put(ro / name, old);
        ::chmod((ro / name).c_str(), 0666);
    }
    ::chmod((ro / "kept.bin").c_str(), 0444);
    ::chmod(ro.c_str(), 0555);

    EXPECT_EQ(unprivileged([&] { return int(writeConfigFile(ro / "open.bin", sampleImage())); }),
              int(FileStatus::Ok));
    EXPECT_EQ(contents(ro / "open.bin"), fileOf(sampleImage()));
    EXPECT_EQ(unprivileged([&] { return int(writeConfigFile(ro / "kept.bin", sampleImage())); }),
              int(FileStatus::CannotOpen));
    EXPECT_EQ(contents(ro / "kept.bin"), old);
    EXPECT_EQ(unprivileged([&] { return int(writeConfigFile(ro / "new.bin", sampleImage())); }),
              int(FileStatus::CannotOpen));
    EXPECT_EQ(unprivileged([&] {
                  std::signal(SIGXFSZ, SIG_IGN);
                  const struct rlimit small = {100, 100};
                  ::setrlimit(RLIMIT_FSIZE, &small);
                  return int(writeConfigFile(ro / "short.bin", sampleImage()));
              }),
              int(FileStatus::WriteFailed));
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(ro))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"kept.bin", "open.bin", "short.bin"}));
    ::chmod(ro.c_str(), 0755);
}

// A save keeps what the file is besides its contents: it replaces the file where a
// new one can be given its mode, owner and attributes, and otherwise writes it in
// place, keeping the old contents in a copy beside it until the new ones are synced.
TEST_F(ConfigFileTest, SavingKeepsWhatTheFileIsAndWritesInPlaceWhereAReplacementWouldNot) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "making files of another owner needs root";
    constexpr uid_t Nobody = 65534;
    constexpr int Killed = 128 + SIGXFSZ;
    constexpr const char* Copy = "f.bin.v38-copy";
    struct Case {
        const char* name;
        mode_t folderMode;
        std::size_t oldSize; // 0: no file yet
        mode_t oldMode;
        uid_t oldOwner;
        bool hardLink, attribute, asNobody;
        rlim_t sizeLimit; // of the saving process; 0: none
        bool dieAtLimit;
        int status;
        bool written, sameInode;
        mode_t mode;
        uid_t owner;
        bool copyKept;
    };
    const int Ok = int(FileStatus::Ok);
    const int WriteFailed = int(FileStatus::WriteFailed);
    const Case cases[] = {
        {"a new file is private", 0755, 0, 0, 0, false, false, false, 0, false, Ok, true, false,
         0600, 0, false},
        {"root keeps a user's file", 0755, 600, 0644, Nobody, false, false, false, 0, false, Ok,
         true, false, 0644, Nobody, false},
        {"an attribute is kept", 0755, 600, 0640, 0, false, true, false, 0, false, Ok, true, false,
         0640, 0, false},
        {"a hard link", 0755, 600, 0604, 0, true, false, false, 0, false, Ok, true, true, 0604, 0,
         false},
        {"another owner, sticky folder", 01777, 600, 0666, 0, false, false, true, 0, false, Ok,
         true, true, 0666, 0, false},
        {"a failed in-place write is undone", 0755, 50, 0604, 0, true, false, false, 100, false,
         WriteFailed, false, true, 0604, 0, false},
        {"a crash keeps the copy", 0755, 50, 0604, 0, true, false, false, 100, true, Killed, false,
         true, 0604, 0, true},
        // The copy takes its name only once whole: no part of one is ever left.
        {"a crash while copying leaves no copy", 0755, 600, 0604, 0, true, false, false, 100, true,
         Killed, false, true, 0604, 0, false},
    };
#ifdef O_TMPFILE
    const int nameless = ::open(folder.c_str(), O_TMPFILE | O_RDWR, 0600);
    const bool namelessFiles = nameless >= 0;
    ::close(nameless);
#else
    const bool namelessFiles = false;
#endif
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path dir = folder / c.name;
        fs::create_directory(dir);
        ::chmod(dir.c_str(), c.folderMode);
        const fs::path path = dir / "f.bin";
        const std::vector<std::uint8_t> old(c.oldSize, 0x55);
        struct stat before {};
        if (c.oldSize > 0) {
            put(path, old);
            ASSERT_EQ(::chmod(path.c_str(), c.oldMode), 0);
            ASSERT_EQ(::chown(path.c_str(), c.oldOwner, c.oldOwner), 0);
            if (c.hardLink)
                fs::create_hard_link(path, dir / "link.bin");
            if (c.attribute && ::setxattr(path.c_str(), "user.v38", "kept", 4, 0) != 0) {
                std::cerr << "skipped \"" << c.name << "\": no extended attributes here\n";
                continue;
            }
            ASSERT_EQ(::stat(path.c_str(), &before), 0);
        }

        EXPECT_EQ(inChild(c.asNobody,
                          [&] {
                              if (c.sizeLimit > 0) {
                                  std::signal(SIGXFSZ, c.dieAtLimit ? SIG_DFL : SIG_IGN);
                                  const struct rlimit small = {c.sizeLimit, c.sizeLimit};
                                  ::setrlimit(RLIMIT_FSIZE, &small);
                              }
                              return int(writeConfigFile(path, sampleImage()));
                          }),
                  c.status);

        if (c.status != Killed) {
            EXPECT_EQ(contents(path), c.written ? fileOf(sampleImage()) : old);
        }
        if (c.hardLink) {
            EXPECT_EQ(contents(dir / "link.bin"), contents(path));
        }
        struct stat after {};
        ASSERT_EQ(::stat(path.c_str(), &after), 0);
        EXPECT_EQ(after.st_mode & 07777, c.mode);
        EXPECT_EQ(after.st_uid, c.owner);
        EXPECT_EQ(after.st_gid, c.owner);
        if (c.oldSize > 0) {
            EXPECT_EQ(after.st_ino == before.st_ino, c.sameInode);
        }
        if (c.attribute) {
            char value[8] = {};
            EXPECT_EQ(::getxattr(path.c_str(), "user.v38", value, sizeof value), 4);
            EXPECT_STREQ(value, "kept");
        }
        std::vector<std::string> others;
        for (const auto& entry : fs::directory_iterator(dir)) {
            const std::string name = entry.path().filename().string();
            // Where the file system has no nameless files, a crash leaves an unfinished
            // file under a name of its own: never under the copy's.
            if (name != "f.bin" && name != "link.bin" && (namelessFiles || name.rfind(".v38-", 0)))
                others.push_back(name);
        }
        EXPECT_EQ(others, c.copyKept ? std::vector<std::string>{Copy} : std::vector<std::string>{});
        if (c.copyKept) {
            EXPECT_EQ(contents(dir / Copy), old);
        }
    }
}
#endif

#ifndef _WIN32
// In a folder all users share (sticky, writable by all), what another user put there is
// neither followed nor written into, as the kernel's own rule for such folders has it,
// wherever on the way it stands; what we or the folder's owner put there is.
TEST_F(ConfigFileTest, InASharedFolderOnlyOurOwnOrTheOwnersLinksAndFilesAreUsed) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "making files of another owner needs root";
    constexpr uid_t Nobody = 65534;
    const std::vector<std::uint8_t> old(600, 0x55);
    const fs::path elsewhere = folder / "elsewhere";
    fs::create_directory(elsewhere);
    put(elsewhere / "root.bin", old);
    const fs::path shared = folder / "shared"; // root's, as /tmp is
    const fs::path theirs = folder / "theirs"; // another user's sticky folder
    for (const fs::path& f : {shared, theirs}) {
        fs::create_directory(f);
        ::chmod(f.c_str(), 01777);
    }
    ASSERT_EQ(::chown(theirs.c_str(), Nobody, Nobody), 0);
    const auto plant = [&](const fs::path& target, const fs::path& link, uid_t owner) {
        fs::create_symlink(target, link);
        ASSERT_EQ(::lchown(link.c_str(), owner, owner), 0);
    };
    const auto file = [&](const fs::path& path, uid_t owner) {
        put(path, old);
        ASSERT_EQ(::chown(path.c_str(), owner, owner), 0);
    };
    plant(elsewhere / "root.bin", shared / "planted.bin", Nobody);
    plant(elsewhere, shared / "planted-folder", Nobody);
    plant(elsewhere / "mine.bin", shared / "mine-link.bin", 0);
    plant(elsewhere / "owners.bin", theirs / "owners-link.bin", Nobody);
    file(shared / "foreign.bin", Nobody);
    file(theirs / "owners.bin", Nobody);
    const struct {
        const char* name;
        fs::path path;
        FileStatus status;
        FileRefusal refusal;
        fs::path written; // empty: nothing written
    } cases[] = {
        {"another user's link",
         shared / "planted.bin",
         FileStatus::CannotOpen,
         FileRefusal::ForeignLink,
         {}},
        {"another user's link to a folder",
         shared / "planted-folder" / "root.bin",
         FileStatus::CannotOpen,
         FileRefusal::ForeignLink,
         {}},
        {"another user's file",
         shared / "foreign.bin",
         FileStatus::CannotOpen,
         FileRefusal::ForeignFile,
         {}},
        {"our own link", shared / "mine-link.bin", FileStatus::Ok, FileRefusal::None,
         elsewhere / "mine.bin"},
        {"the folder owner's link", theirs / "owners-link.bin", FileStatus::Ok, FileRefusal::None,
         elsewhere / "owners.bin"},
        {"the folder owner's file", theirs / "owners.bin", FileStatus::Ok, FileRefusal::None,
         theirs / "owners.bin"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FileDetails details;
        EXPECT_EQ(writeConfigFile(c.path, sampleImage(), &details), c.status);
        EXPECT_EQ(details.refusal, c.refusal);
        if (!c.written.empty()) {
            EXPECT_EQ(contents(c.written), fileOf(sampleImage()));
        }
    }
    EXPECT_EQ(contents(elsewhere / "root.bin"), old);
    EXPECT_EQ(contents(shared / "foreign.bin"), old);
    struct stat info {};
    ASSERT_EQ(::stat((theirs / "owners.bin").c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, Nobody); // replaced, it keeps its owner
}

// A copy that an interrupted save left is told of on opening and saving, kept as it is,
// and stops an in-place write, which would need its name; a replacement goes on.
TEST_F(ConfigFileTest, ACopyLeftByAnInterruptedSaveIsToldOfAndNeverOverwritten) {
    const std::vector<std::uint8_t> leftover(514, 0x77);
    for (bool inPlace : {false, true}) {
        SCOPED_TRACE(inPlace ? "in place" : "replaced");
        const fs::path dir = folder / (inPlace ? "in-place" : "replaced");
        fs::create_directory(dir);
        const fs::path path = dir / "f.bin";
        const fs::path copy = dir / "f.bin.v38-copy";
        put(path, fileOf(ConfigImage::defaults()));
        put(copy, leftover);
        if (inPlace)
            fs::create_hard_link(path, dir / "link.bin");

        ConfigImage image;
        FileDetails details;
        EXPECT_EQ(readConfigFile(path, image, &details), FileStatus::Ok);
        EXPECT_EQ(details.leftoverCopy, copy);
        EXPECT_EQ(writeConfigFile(path, sampleImage(), &details),
                  inPlace ? FileStatus::CannotOpen : FileStatus::Ok);
        EXPECT_EQ(details.leftoverCopy, copy);
        EXPECT_EQ(details.refusal, inPlace ? FileRefusal::CopyInTheWay : FileRefusal::None);
        EXPECT_EQ(contents(path),
                  inPlace ? fileOf(ConfigImage::defaults()) : fileOf(sampleImage()));
        EXPECT_EQ(contents(copy), leftover);
        EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()),
                  inPlace ? 3 : 2);
        EXPECT_EQ(leftoverCopy(path), copy);
    }
}
#endif

#ifndef _WIN32 // a file size limit is how a write is made to fail half-way
TEST_F(ConfigFileTest, AFailedWriteKeepsTheOldFileAndLeavesNoTemporary) {
    // Limit the size of any file this process writes to fewer than 514 bytes: the
    // temporary file can be created, but writing it fails half-way.
    const fs::path path = folder / "keep.bin";
    const std::vector<std::uint8_t> old = fileOf(ConfigImage::defaults());
    put(path, old);

    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 100;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const FileStatus status = writeConfigFile(path, sampleImage());
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);

    EXPECT_EQ(status, FileStatus::WriteFailed);
    EXPECT_EQ(contents(path), old);
    EXPECT_EQ(filesInFolder(), std::vector<std::string>{"keep.bin"});
}
#endif

#ifdef _WIN32
namespace {

// Another program holding `file` open, letting others share what `share` lists (r, w,
// d), for `ms` milliseconds or until destroyed: tests/config/HoldFile.cpp, built beside
// this test.
class HeldFile {
public:
    HeldFile(const fs::path& file, const std::wstring& share, int ms) {
        wchar_t self[MAX_PATH] = {};
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        const fs::path helper = fs::path(self).parent_path() / "v38holdfile.exe";
        SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
        HANDLE readEnd = nullptr;
        HANDLE writeEnd = nullptr;
        if (!CreatePipe(&readEnd, &writeEnd, &inherited, 0))
            return;
        SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = writeEnd;
        startup.hStdError = writeEnd;
        std::wstring command = L"\"" + helper.wstring() + L"\" \"" + file.wstring() + L"\" " +
                               share + L" " + std::to_wstring(ms);
        const bool started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0,
                                            nullptr, nullptr, &startup, &process_);
        CloseHandle(writeEnd);
        char said[32] = {};
        DWORD got = 0;
        held = started && ReadFile(readEnd, said, sizeof said - 1, &got, nullptr) &&
               std::string(said).rfind("held", 0) == 0;
        CloseHandle(readEnd);
    }
    ~HeldFile() {
        if (!process_.hProcess)
            return;
        TerminateProcess(process_.hProcess, 0);
        WaitForSingleObject(process_.hProcess, INFINITE);
        CloseHandle(process_.hProcess);
        CloseHandle(process_.hThread);
    }
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;

    bool held = false;

private:
    PROCESS_INFORMATION process_{};
};

// Which file a name reaches: a replacement gives it a new one, an in-place write not.
std::uint64_t fileIdentity(const fs::path& path) {
    HANDLE file =
        CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = GetFileInformationByHandle(file, &info);
    CloseHandle(file);
    return known ? (std::uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow : 0;
}

} // namespace

// A file another program holds: without shared writing it cannot be opened and stays as
// it was; with shared writing it is written in place; held for a moment it is replaced
// once the replacement, tried again, goes through. A replacement keeps the attributes.
TEST_F(ConfigFileTest, SavingAFileAnotherProgramHoldsOrThatHasAttributes) {
    struct Case {
        const char* name;
        const wchar_t* share; // of the holder; null: not held
        int holdMs;
        DWORD attributes;
        FileStatus status;
        bool written, sameFile;
    };
    const Case cases[] = {
        {"held, others may read", L"r", 30000, 0, FileStatus::CannotOpen, false, true},
        {"held, others may write", L"rw", 30000, 0, FileStatus::Ok, true, true},
        {"held for a moment", L"r", 500, 0, FileStatus::Ok, true, false},
        {"hidden and system", nullptr, 0, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM,
         FileStatus::Ok, true, false},
    };
    const std::vector<std::uint8_t> old = fileOf(ConfigImage::defaults());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path dir = folder / c.name;
        fs::create_directory(dir);
        const fs::path path = dir / "f.bin";
        put(path, old);
        if (c.attributes) {
            ASSERT_TRUE(SetFileAttributesW(path.c_str(), c.attributes));
            ASSERT_EQ(GetFileAttributesW(path.c_str()) & c.attributes, c.attributes);
        }
        const std::uint64_t before = fileIdentity(path);
        ASSERT_NE(before, 0u);
        FileStatus status = FileStatus::BadFile;
        {
            std::unique_ptr<HeldFile> holder;
            if (c.share) {
                holder = std::make_unique<HeldFile>(path, c.share, c.holdMs);
                ASSERT_TRUE(holder->held);
            }
            status = writeConfigFile(path, sampleImage());
        }
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(contents(path), c.written ? fileOf(sampleImage()) : old);
        EXPECT_EQ(fileIdentity(path) == before, c.sameFile);
        EXPECT_EQ(GetFileAttributesW(path.c_str()) & c.attributes, c.attributes);
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir))
            names.push_back(entry.path().filename().string());
        EXPECT_EQ(names, std::vector<std::string>{"f.bin"});
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
}
#endif

// Why a file failed, in the language asked: the system's reasons by their code (in
// English as the system says them), ours by what was refused, and the system's own
// text for a code or a reason we have no words for.
TEST(FileReasonTest, ReasonsAreSaidInTheLanguageAsked) {
    const auto withError = [](int error, fs::path oldContentsIn = {}) {
        FileDetails details;
        details.error = error;
        details.oldContentsIn = std::move(oldContentsIn);
        return details;
    };
    const auto refused = [](FileRefusal refusal) {
        FileDetails details;
        details.refusal = refusal;
        details.leftoverCopy = "f.bin.v38-copy";
        return details;
    };
    FileDetails told; // Windows says why in the user's language already
    told.reason = "Odmowa dostępu.";
    const std::string unknown = std::generic_category().message(EDOM);
    const struct {
        FileDetails details;
        std::string english;
        std::string polish;
    } cases[] = {
        {withError(ENOENT), "No such file or directory", "Nie ma takiego pliku ani folderu"},
        {withError(EISDIR), "Is a directory", "To jest folder"},
        {withError(ENOSPC, "f.bin.v38-copy"),
         "No space left on device; its old contents are in f.bin.v38-copy",
         "Brak miejsca na urządzeniu; jego poprzednia zawartość jest w f.bin.v38-copy"},
        {withError(EDOM), unknown, unknown},
        {told, "Odmowa dostępu.", "Odmowa dostępu."},
        {refused(FileRefusal::NotARegularFile), "not a regular file", "to nie jest zwykły plik"},
        {refused(FileRefusal::CopyInTheWay),
         "beside it is f.bin.v38-copy, left by an interrupted save; see to it first (it holds the "
         "file's earlier contents), then save again",
         "obok leży f.bin.v38-copy, pozostawiona przez przerwany zapis; najpierw się nią zajmij "
         "(zawiera poprzednią zawartość pliku), potem zapisz ponownie"},
        {refused(FileRefusal::Changed),
         "it was swapped for another file while it was being saved; nothing was written",
         "w trakcie zapisu zamieniono go na inny plik; nic nie zapisano"},
        {FileDetails(), "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.english);
        EXPECT_EQ(fileFailureReason(c.details), c.english);
        EXPECT_EQ(fileFailureReason(c.details, TextLanguage::Polish), c.polish);
    }
    const FileDetails copy = refused(FileRefusal::None);
    EXPECT_EQ(leftoverCopyNotice(copy, "f.bin"),
              "note: f.bin.v38-copy was left by an interrupted save of f.bin and holds its earlier "
              "contents, whole: if the file is damaged, rename the copy to it; if not, delete the "
              "copy\n");
    EXPECT_EQ(leftoverCopyNotice(copy, "f.bin", TextLanguage::Polish),
              "uwaga: f.bin.v38-copy pozostawił przerwany zapis pliku f.bin; kopia zawiera całą "
              "jego poprzednią zawartość: jeśli plik jest uszkodzony, zmień nazwę kopii na nazwę "
              "pliku; jeśli nie, usuń kopię\n");
#ifndef _WIN32
    // An English run says what the system says, word for word.
    for (int code :
         {ENOENT, EACCES, EPERM,   EROFS,  ENOSPC,     EDQUOT, EISDIR, ENOTDIR, ELOOP, ENAMETOOLONG,
          EEXIST, EBUSY,  ETXTBSY, EIO,    EMFILE,     ENFILE, EXDEV,  EINVAL,  EFBIG, ENXIO,
          EAGAIN, EPIPE,  EINTR,   ENODEV, EOPNOTSUPP, EBADF,  EMLINK, ESTALE}) {
        EXPECT_EQ(systemReason(code), std::strerror(code)) << code;
        EXPECT_NE(systemReason(code, TextLanguage::Polish), std::strerror(code)) << code;
    }
#endif
}
