#pragma once
// Runs the built lanrove-cli with its standard output and standard error kept apart.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace lanrove::testing {

struct CliRun {
    int exitCode = -1;
    std::string out;
    std::string err;
    // The first line of standard error, without its line end.
    std::string firstErrLine() const { return err.substr(0, err.find('\n')); }
};

// `args` go through the shell as written; `prefix` (e.g. "LANROVE_HOME=/x ") goes before the
// program's path.
inline CliRun runCliSplit(const std::string& args, const std::string& prefix = "") {
    CliRun r;
    char errPath[] = "/tmp/lanrove-cli-err-XXXXXX";
    const int fd = ::mkstemp(errPath);
    if (fd < 0) return r;
    ::close(fd);
    const std::string command = prefix + std::string(LANROVE_BINARY_DIR) + "/src/lanrove-cli " +
                                args + " 2>" + errPath + " </dev/null";
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buf[4096];
        std::size_t n = 0;
        while ((n = std::fread(buf, 1, sizeof(buf), pipe)) > 0) r.out.append(buf, n);
        const int status = ::pclose(pipe);
        r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::ifstream in(errPath, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    r.err = text.str();
    ::unlink(errPath);
    return r;
}

}  // namespace lanrove::testing
