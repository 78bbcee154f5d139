// The terminal questions: the safe answer on Enter, and the progress line held
// while a question waits.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif
#include <chrono>
#include <cstdio>
#include <future>
#include <iostream>
#include <thread>

#include "CliPrompter.h"

namespace kestrum::cli {
namespace {

// Standard input from a pipe the test writes the typed answers into.
class TypedInput {
public:
    TypedInput() {
#ifdef _WIN32
        EXPECT_EQ(::_pipe(fds_, 4096, _O_BINARY), 0);
#else
        EXPECT_EQ(::pipe(fds_), 0);
#endif
        saved_ = ::dup(0);
        ::dup2(fds_[0], 0);
    }
    ~TypedInput() {
        ::close(fds_[1]);
        ::dup2(saved_, 0);
        ::close(saved_);
        ::close(fds_[0]);
        std::cin.clear();
    }
    void type(const std::string& text) {
        EXPECT_EQ(::write(fds_[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }

private:
    int fds_[2] = {-1, -1};
    int saved_ = -1;
};

bool waitForQuestion() {
    for (int i = 0; i < 500 && !CliPrompter::questionOpen(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return CliPrompter::questionOpen();
}

TEST(CliPrompterTest, AQuestionHoldsTheTerminalUntilAnsweredAndEnterLosesNothing) {
    TypedInput input;
    CliPrompter prompts(ExistsPolicy::Ask, BadSectorPolicy::Ask, true);
    auto replace = std::async(std::launch::async, [&] { return prompts.askReplace("File1.JPEG"); });
    ASSERT_TRUE(waitForQuestion());
    input.type("\n");
    EXPECT_EQ(replace.get(), ReplaceAnswer::KeepBoth);
    EXPECT_FALSE(CliPrompter::questionOpen());

    auto bad = std::async(std::launch::async, [&] { return prompts.askBadSector(); });
    ASSERT_TRUE(waitForQuestion());
    input.type("\nx\na\n");  // no default here: asked again until a choice is typed
    EXPECT_EQ(bad.get(), BadSectorAnswer::SkipAll);
    EXPECT_FALSE(CliPrompter::questionOpen());
}

}  // namespace
}  // namespace kestrum::cli
