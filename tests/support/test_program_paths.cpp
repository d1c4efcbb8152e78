// Where the program keeps its files: beside a writable executable, in the user's data folder
// for an installed one, and the overrides.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <string>

#include "app/temp_dir.h"
#include "support/program_paths.h"

namespace lanrove {
namespace {

// Sets an environment variable for one test and puts the old value back.
class EnvGuard {
  public:
    EnvGuard(const char* name, const char* value) : m_name(name) {
        if (const char* old = std::getenv(name)) m_old = old;
        if (value != nullptr) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~EnvGuard() {
        if (m_old) {
            ::setenv(m_name.c_str(), m_old->c_str(), 1);
        } else {
            ::unsetenv(m_name.c_str());
        }
    }
    EnvGuard(const EnvGuard&) = delete;
    EnvGuard& operator=(const EnvGuard&) = delete;

  private:
    std::string m_name;
    std::optional<std::string> m_old;
};

TEST(ProgramPaths, UserDataFolderFollowsXdgDataHomeThenHome) {
    {
        EnvGuard data("XDG_DATA_HOME", "/srv/data");
        EXPECT_EQ(ProgramPaths::userDataFolder(), "/srv/data/lanrove-setup");
    }
    EnvGuard home("HOME", "/home/installer");
    {
        // A relative value does not count.
        EnvGuard data("XDG_DATA_HOME", "relative/data");
        EXPECT_EQ(ProgramPaths::userDataFolder(), "/home/installer/.local/share/lanrove-setup");
    }
    EnvGuard data("XDG_DATA_HOME", nullptr);
    EXPECT_EQ(ProgramPaths::userDataFolder(), "/home/installer/.local/share/lanrove-setup");
}

TEST(ProgramPaths, InstalledExecutableUsesTheCreatedUserFolder) {
    test::TempDir dir;
    EnvGuard data("XDG_DATA_HOME", (dir.path() / "share").c_str());
    EXPECT_EQ(ProgramPaths::folderFor("/usr/bin", true), "/usr/bin");
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "share"));
    const auto folder = ProgramPaths::folderFor("/usr/bin", false);
    EXPECT_EQ(folder, dir.path() / "share" / "lanrove-setup");
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    // A data folder that cannot be made leaves the executable's folder.
    std::ofstream(dir.path() / "file") << "x";
    EnvGuard blocked("XDG_DATA_HOME", (dir.path() / "file").c_str());
    EXPECT_EQ(ProgramPaths::folderFor("/usr/bin", false), "/usr/bin");
}

TEST(ProgramPaths, HomeOptionAndEnvironmentOverrideTheFolder) {
    EnvGuard env("LANROVE_HOME", "/srv/lanrove");
    const ProgramPaths p = ProgramPaths::resolve("/usr/bin/lanrove-setup_FwTool", "/tmp/site");
    EXPECT_EQ(p.folder, "/tmp/site");
    EXPECT_EQ(p.exeBaseName, "lanrove-setup_FwTool");
    EXPECT_EQ(ProgramPaths::resolve("lanrove-cli").folder, "/srv/lanrove");
}

}  // namespace
}  // namespace lanrove
