// The file-system calls behind the demo list and served files, on the build's own word size.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "net/files.h"
#include "test_host.h"

// The i386 library's stat once failed with EOVERFLOW here (sizes beyond 31 bits), as it does for
// any file where inode numbers need 64 bits; a sparse file costs no disk.
TEST(Files, AFileBeyondTwoGiBHasItsSizeAndIsListed) {
    ScratchDir dir;
    std::string path = dir.file("big.kdem");
    int fd = open(path.c_str(), O_CREAT | O_WRONLY | O_LARGEFILE, 0644);
    ASSERT_GE(fd, 0);
    bool grown = ftruncate64(fd, int64_t(3) << 30) == 0;
    close(fd);
    if (!grown) GTEST_SKIP() << "this file system refuses a 3 GiB sparse file";
    EXPECT_EQ(regularFileSize(path.c_str()), int64_t(3) << 30);
    EXPECT_EQ(regularFileSize(dir.path().c_str()), -1);  // a folder
    EXPECT_EQ(regularFileSize(dir.file("missing").c_str()), -1);
    int seen = 0;
    ASSERT_TRUE(listDirectory(dir.path().c_str(), [](const char* name, void* context) {
        if (std::string(name) == "big.kdem") ++*static_cast<int*>(context);
    }, &seen));
    EXPECT_EQ(seen, 1);
    unlink(path.c_str());
}
