#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace {

const std::string kCli = std::string(LANROVE_BINARY_DIR) + "/src/lanrove-cli";

int runCli(const std::string& args, std::string& out) {
    out.clear();
    FILE* pipe = ::popen((kCli + " " + args + " 2>/dev/null").c_str(), "r");
    if (pipe == nullptr) return -1;
    char buf[256];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
    const int status = ::pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST(CliVersion, PrintsTheEmbeddedVersion) {
    std::string out;
    EXPECT_EQ(runCli("version", out), 0);
    EXPECT_EQ(out, "Ver.1.0.6\n1.0.6.1\n");
    EXPECT_EQ(runCli("version extra", out), 2);
}
