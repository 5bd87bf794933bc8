// Files on POSIX calls: a written file flushed and renamed over another.
#include "platform/posix/posix_files.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace qvx {
namespace {

TEST(PosixFiles, RenameReplacingPutsTheFlushedFileInPlace) {
    std::string folder = ::testing::TempDir();
    if (!folder.empty() && folder.back() != '/')
        folder += '/';
    folder += "qvx_files_" + std::to_string(getpid()) + "/";
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    const std::string target = folder + "library.dll", temporary = target + ".new";
    TPosixFiles files;
    const auto put = [&](const std::string& path, const std::string& content) {
        auto file = files.Create(path);
        ASSERT_TRUE(file);
        ASSERT_EQ(file->Write(content.data(), content.size()),
                  static_cast<int64_t>(content.size()));
        EXPECT_TRUE(file->Flush());
    };
    put(target, "old");
    put(temporary, "new library");
    EXPECT_TRUE(files.RenameReplacing(temporary, target));
    std::string content;
    ASSERT_TRUE(ReadWholeFile(files, target, content));
    EXPECT_EQ(content, "new library");
    EXPECT_FALSE(files.FileExists(temporary));

    // Nothing to move: the target stays.
    EXPECT_FALSE(files.RenameReplacing(temporary, target));
    ASSERT_TRUE(ReadWholeFile(files, target, content));
    EXPECT_EQ(content, "new library");

    std::remove(target.c_str());
    rmdir(folder.c_str());
}

} // namespace
} // namespace qvx
