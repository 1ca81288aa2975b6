// Work in a child process: its result, its failure's text, and its crash or hang as EChildCrashed.
#include <gtest/gtest.h>

#include <unistd.h>

#include <csignal>
#include <stdexcept>

#include "platform/ChildProcess.h"
#include "platform/MemoryFile.h"

namespace {

TEST(ChildProcess, ResultFailureCrashAndHangComeBack)
{
    const std::vector<uint8_t> Big(300000, 0x5a);
    EXPECT_EQ(RunInChildProcess([&] { return Big; }, 5), Big);
    try {
        RunInChildProcess([]() -> std::vector<uint8_t> { throw std::runtime_error("x: broken"); }, 5);
        ADD_FAILURE() << "no exception";
    } catch (const EChildCrashed&) {
        ADD_FAILURE() << "a failure is no crash";
    } catch (const std::runtime_error& E) {
        EXPECT_STREQ(E.what(), "x: broken");
    }
    // A library that ends the process itself is no result, whatever its status.
    for (const int Status : {0, 1}) {
        try {
            RunInChildProcess([Status]() -> std::vector<uint8_t> { ::_exit(Status); }, 5);
            ADD_FAILURE() << "no failure for exit " << Status;
        } catch (const EChildCrashed& E) {
            EXPECT_EQ(E.Signal, 0);
            EXPECT_EQ(E.what(), "it ended the process with exit status " + std::to_string(Status));
        }
    }
    // SIGABRT, as a stack-smashing check ends it; a sanitizer build would turn SIGSEGV into an
    // exit.
    for (const int Signal : {SIGABRT, SIGALRM}) {
        try {
            RunInChildProcess([Signal]() -> std::vector<uint8_t> {
                if (Signal == SIGABRT)
                    ::raise(SIGABRT);
                ::pause();  // until the alarm
                return {};
            }, 1);
            ADD_FAILURE() << "no crash";
        } catch (const EChildCrashed& E) {
            EXPECT_EQ(E.Signal, Signal);
        }
    }
}

TEST(MemoryFile, ReadsBackByItsPath)
{
    TMemoryFile File(std::vector<uint8_t>{1, 2, 3});
    File.Append("\4", 1);
    EXPECT_EQ(File.Contents(), (std::vector<uint8_t>{1, 2, 3, 4}));
    FILE* Again = std::fopen(File.Path().c_str(), "rb");
    ASSERT_NE(Again, nullptr);
    uint8_t First = 0;
    EXPECT_EQ(std::fread(&First, 1, 1, Again), 1u);
    EXPECT_EQ(First, 1);
    std::fclose(Again);
}

}  // namespace
