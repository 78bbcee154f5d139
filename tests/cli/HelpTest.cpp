// The tool's help: every command explains itself and its options on standard
// output and ends well, before it looks at a source.
#include <gtest/gtest.h>

#include <filesystem>

#include "CliTestSupport.h"

namespace kestrum::test {
namespace {

TEST(HelpTest, EveryCommandExplainsItsOptions) {
    ToolEnvironment tool;
    const struct {
        const char* command;
        std::vector<const char*> options;
    } commands[] = {
        {"devices", {}},
        {"types", {}},
        {"scan",
         {"--types", "--max-kb", "--range", "--list", "--save", "--on-exists", "--on-bad-sector"}},
        {"image", {"--out", "--range", "--multifile"}},
    };
    for (const auto& c : commands) {
        for (const char* ask : {" --help", " -h", " /no/such/source --help"}) {
            const ToolRun r = tool.run(c.command + std::string(ask));
            SCOPED_TRACE(c.command + std::string(ask));
            EXPECT_EQ(r.exitCode, 0);
            EXPECT_EQ(r.err, "");
            EXPECT_EQ(r.out.rfind("Usage: kestrum-recover " + std::string(c.command), 0), 0u)
                << r.out;
            // One line per option: the option, then its explanation on the same line.
            for (const char* option : c.options) {
                const size_t at = r.out.find("\n  " + std::string(option));
                ASSERT_NE(at, std::string::npos) << option << "\n" << r.out;
                const std::string line = r.out.substr(at + 1, r.out.find('\n', at + 1) - at - 1);
                EXPECT_GT(line.size(), std::string(option).size() + 10) << line;
                EXPECT_LE(line.size(), 100u) << line;
            }
            EXPECT_NE(r.out.find("--version"), std::string::npos);
        }
        const ToolRun v = tool.run(c.command + std::string(" --version"));
        EXPECT_EQ(v.exitCode, 0);
        EXPECT_EQ(v.out, "kestrum-recover " KESTRUM_VERSION "\n");
    }
    const ToolRun v = tool.run("--version");
    EXPECT_EQ(v.exitCode, 0);
    EXPECT_EQ(v.out, "kestrum-recover " KESTRUM_VERSION "\n");

    // Without a command: the usage on standard error, whole lines, and a failure.
    const ToolRun bare = tool.run("");
    EXPECT_EQ(bare.exitCode, 1);
    ASSERT_FALSE(bare.err.empty());
    EXPECT_EQ(bare.err.back(), '\n');
    for (const char* command : {"devices", "types", "scan", "image"})
        EXPECT_NE(bare.err.find("\n  " + std::string(command)), std::string::npos) << command;
    const ToolRun help = tool.run("--help");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.out, bare.err);
}

TEST(HelpTest, TheInstallStepExplainsItselfAndRegistersNoOptionAsAFolder) {
    KESTRUM_LINUX_ONLY("a POSIX shell");
#ifndef _WIN32
    TempDir work;
    const std::string tool = "cd " + shellQuote(work.path()) +
                             " && KESTRUM_REGISTRY=" + shellQuote(work.file("registry")) + " " +
                             shellQuote(std::string(KESTRUM_BIN_DIR) + "/kestrum-register");
    for (const char* ask : {" --help", " -h", " logs --help"}) {
        std::string out;
        EXPECT_EQ(runCommand(tool + ask + " 2>/dev/null", &out), 0) << ask;
        EXPECT_EQ(out.rfind("Usage: kestrum-register [LOG_FOLDER]\n", 0), 0u) << out;
    }
    std::string out;
    EXPECT_NE(runCommand(tool + " --logs 2>&1", &out), 0);
    EXPECT_NE(out.find("unknown option --logs"), std::string::npos) << out;
    EXPECT_NE(runCommand(tool + " one two 2>&1", &out), 0);
    EXPECT_NE(out.find("at most one LOG_FOLDER"), std::string::npos) << out;
    // Nothing was made or registered by any of them.
    EXPECT_TRUE(std::filesystem::is_empty(work.path()));
#endif
}

}  // namespace
}  // namespace kestrum::test
