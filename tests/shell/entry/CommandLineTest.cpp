#include "shell/entry/CommandLine.h"

#include <gtest/gtest.h>

TEST(CommandLineTest, OnlyTheFirstArgumentCountsAndExactly)
{
    const struct {
        std::vector<const char*> args;
        CommandLine::Mode mode;
    } cases[] = {
        {{"tessaron"}, CommandLine::Mode::Normal},
        {{"tessaron", "/update"}, CommandLine::Mode::Update},
        {{"tessaron", "/home"}, CommandLine::Mode::Home},
        {{"tessaron", "/Home"}, CommandLine::Mode::Normal},
        {{"tessaron", "/updatedev"}, CommandLine::Mode::Normal},
        {{"tessaron", "-x", "/home"}, CommandLine::Mode::Normal},
        {{"tessaron", "/home", "/update"}, CommandLine::Mode::Home},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.size() > 1 ? c.args[1] : "(none)");
        EXPECT_EQ(CommandLine(static_cast<int>(c.args.size()), c.args.data()).mode(), c.mode);
    }
}
