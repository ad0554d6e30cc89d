#include "platform/shared_memory.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

using platform::SharedMemoryPath;
using platform::TSharedMemory;
using platform::TSharedMemoryResult;

namespace {

class SharedMemoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        ns_ = "shmtest-" + std::to_string(::getpid());
        ::setenv("OSTROLINKA_NAMESPACE", ns_.c_str(), 1);
    }
    void TearDown() override {
        for (pid_t pid : children_) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        ::unsetenv("OSTROLINKA_NAMESPACE");
    }

    static bool NameExists(const std::string& path) {
        const int fd = ::shm_open(path.c_str(), O_RDONLY, 0);
        if (fd < 0) return false;
        ::close(fd);
        return true;
    }

    // A child process that creates the block, stamps its first byte and waits to be killed.
    pid_t StartCreator(const char* name, std::size_t size) {
        int fds[2];
        if (::pipe(fds) != 0) return -1;
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(fds[0]);
            TSharedMemory block;
            const char ok = block.Create(name, size) == TSharedMemoryResult::Ok ? 'y' : 'n';
            if (ok == 'y') block.Data()[0] = 0xAB;
            if (::write(fds[1], &ok, 1) != 1) ::_exit(2);
            for (;;)
                ::pause();
        }
        ::close(fds[1]);
        children_.push_back(pid);
        char answer = 0;
        pollfd p{fds[0], POLLIN, 0};
        if (::poll(&p, 1, 10000) != 1 || ::read(fds[0], &answer, 1) != 1) answer = 0;
        ::close(fds[0]);
        return answer == 'y' ? pid : -1;
    }

    void Kill(pid_t pid) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        std::erase(children_, pid);
    }

    std::string ns_;
    std::vector<pid_t> children_;
};

TEST_F(SharedMemoryTest, CreatedBlockIsZeroFilledPrivateAndSharedWithOpeners) {
    TSharedMemory a;
    ASSERT_EQ(a.Create("blk", 10000), TSharedMemoryResult::Ok);
    ASSERT_TRUE(a.IsMapped());
    ASSERT_EQ(a.Size(), 10000u);
    for (std::size_t i = 0; i < a.Size(); ++i)
        ASSERT_EQ(a.Data()[i], 0) << i;

    const int fd = ::shm_open(SharedMemoryPath("blk").c_str(), O_RDONLY, 0);
    ASSERT_GE(fd, 0);
    struct stat st {};
    ASSERT_EQ(::fstat(fd, &st), 0);
    ::close(fd);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(st.st_size, 10000);

    TSharedMemory b;
    ASSERT_EQ(b.Open("blk"), TSharedMemoryResult::Ok);
    EXPECT_EQ(b.Size(), 10000u); // from the block, not from the caller
    a.Data()[9999] = 7;
    b.Data()[0] = 9;
    EXPECT_EQ(b.Data()[9999], 7);
    EXPECT_EQ(a.Data()[0], 9);
}

TEST_F(SharedMemoryTest, CreationIsExclusiveAndBadRequestsFail) {
    TSharedMemory a, b, c;
    ASSERT_EQ(a.Create("blk", 100), TSharedMemoryResult::Ok);
    EXPECT_EQ(b.Create("blk", 100), TSharedMemoryResult::AlreadyExists);
    EXPECT_FALSE(b.IsMapped());
    EXPECT_EQ(a.Data()[0], 0);

    EXPECT_EQ(c.Open("missing"), TSharedMemoryResult::NotFound);
    EXPECT_EQ(c.Create("", 100), TSharedMemoryResult::Failed);
    EXPECT_EQ(c.Create("a/b", 100), TSharedMemoryResult::Failed);
    EXPECT_EQ(c.Create("zero", 0), TSharedMemoryResult::Failed);
    EXPECT_EQ(c.Open("a/b"), TSharedMemoryResult::Failed);
    EXPECT_FALSE(c.IsMapped());
}

TEST_F(SharedMemoryTest, BlockLivesWhileAnyHolderKeepsIt) {
    const std::string path = SharedMemoryPath("blk");
    auto creator = std::make_unique<TSharedMemory>();
    TSharedMemory opener;
    ASSERT_EQ(creator->Create("blk", 64), TSharedMemoryResult::Ok);
    ASSERT_EQ(opener.Open("blk"), TSharedMemoryResult::Ok);
    creator.reset();
    EXPECT_TRUE(NameExists(path));
    TSharedMemory again;
    EXPECT_EQ(again.Create("blk", 64), TSharedMemoryResult::AlreadyExists);
    opener.Close();
    EXPECT_FALSE(NameExists(path));
    EXPECT_EQ(again.Open("blk"), TSharedMemoryResult::NotFound);
}

TEST_F(SharedMemoryTest, NamespaceBecomesPartOfTheName) {
    TSharedMemory a;
    ASSERT_EQ(a.Create("blk", 64), TSharedMemoryResult::Ok);
    EXPECT_EQ(SharedMemoryPath("blk"), "/" + ns_ + ".blk");
    EXPECT_TRUE(NameExists("/" + ns_ + ".blk"));

    // Another namespace does not see the block.
    ::setenv("OSTROLINKA_NAMESPACE", (ns_ + "-other").c_str(), 1);
    TSharedMemory b;
    EXPECT_EQ(b.Open("blk"), TSharedMemoryResult::NotFound);
    EXPECT_EQ(b.Create("blk", 64), TSharedMemoryResult::Ok);
    b.Close();

    ::unsetenv("OSTROLINKA_NAMESPACE");
    const std::string plain = "shmtest-plain-" + std::to_string(::getpid());
    EXPECT_EQ(SharedMemoryPath(plain), "/" + plain);
    TSharedMemory c;
    ASSERT_EQ(c.Create(plain, 64), TSharedMemoryResult::Ok);
    EXPECT_TRUE(NameExists("/" + plain));
}

TEST_F(SharedMemoryTest, BlockOfACrashedCreatorIsReplaced) {
    const pid_t child = StartCreator("orphan", 4096);
    ASSERT_GT(child, 0);
    {
        TSharedMemory live;
        ASSERT_EQ(live.Open("orphan"), TSharedMemoryResult::Ok);
        EXPECT_EQ(live.Data()[0], 0xAB);
        TSharedMemory rival;
        EXPECT_EQ(rival.Create("orphan", 4096), TSharedMemoryResult::AlreadyExists);
        // Closing here leaves the child as the only holder: the name stays.
    }
    Kill(child);
    EXPECT_TRUE(NameExists(SharedMemoryPath("orphan"))); // nobody removed it

    TSharedMemory opener;
    EXPECT_EQ(opener.Open("orphan"), TSharedMemoryResult::NotFound);
    TSharedMemory fresh;
    ASSERT_EQ(fresh.Create("orphan", 8192), TSharedMemoryResult::Ok);
    EXPECT_EQ(fresh.Size(), 8192u);
    EXPECT_EQ(fresh.Data()[0], 0);
}

TEST_F(SharedMemoryTest, CreatorDeathLeavesTheBlockToItsOtherHolder) {
    const pid_t child = StartCreator("held", 4096);
    ASSERT_GT(child, 0);
    TSharedMemory holder;
    ASSERT_EQ(holder.Open("held"), TSharedMemoryResult::Ok);
    Kill(child);

    TSharedMemory rival;
    EXPECT_EQ(rival.Create("held", 4096), TSharedMemoryResult::AlreadyExists);
    EXPECT_EQ(holder.Data()[0], 0xAB);

    holder.Close(); // the last holder removes it
    EXPECT_FALSE(NameExists(SharedMemoryPath("held")));
    EXPECT_EQ(rival.Create("held", 4096), TSharedMemoryResult::Ok);
}

} // namespace
