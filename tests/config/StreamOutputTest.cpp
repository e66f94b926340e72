// v38ctl's output to pipes and devices: written through as they are, never created,
// truncated or reached through another user's link, and a pipe without a reader is
// refused instead of waited on for ever.
#include "ConfigOutput.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace v38::ctl;

namespace {

std::string text(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace

TEST(StreamOutput, PipesAndDevicesAreWrittenAsTheyAreOrRefusedWithAReason) {
    std::random_device entropy;
    const fs::path folder = fs::temp_directory_path() / ("v38-out-" + std::to_string(entropy()));
    ASSERT_TRUE(fs::create_directory(folder));
    const fs::path read = folder / "read.fifo";
    const fs::path unread = folder / "unread.fifo";
    ASSERT_EQ(::mkfifo(read.c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo(unread.c_str(), 0600), 0);
    // A reader that never ends: the pipe held open for reading and writing.
    const int reader = ::open(read.c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    fs::create_symlink(read, folder / "own-link");
    fs::create_symlink(read, folder / "their-link");
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::lchown((folder / "their-link").c_str(), 65534, 65534), 0);
    }
    std::ofstream(folder / "file.json") << "old contents, longer than the new ones";

    const struct {
        const char* name;
        fs::path path;
        const char* error; // a part of the message; empty: written
    } cases[] = {
        {"a pipe with a reader", read, ""},
        {"a pipe without one", unread, "no program reads"},
        {"our own link to a pipe", folder / "own-link", ""},
        {"another user's link to a pipe", root ? folder / "their-link" : folder / "own-link",
         root ? "not followed" : ""},
        {"a device", "/dev/null", ""},
        {"a file", folder / "file.json", ""},
        {"a new file", folder / "new.json", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto start = std::chrono::steady_clock::now();
        const std::string error = writeOutput(c.path.string(), "{}\n");
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        if (*c.error == '\0') {
            EXPECT_EQ(error, "");
        } else {
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
        }
    }
    char got[64] = {};
    EXPECT_EQ(::read(reader, got, sizeof got), root ? 6 : 9); // 3 bytes by each way in
    ::close(reader);
    EXPECT_EQ(text(folder / "file.json"), "{}\n");
    struct stat info {};
    ASSERT_EQ(::stat((folder / "new.json").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_TRUE(fs::is_fifo(unread));
    std::error_code ignored;
    fs::remove_all(folder, ignored);
}
