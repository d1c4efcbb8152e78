// Where the program keeps its files: beside a writable executable, in the user's data folder
// for an installed one, and the overrides.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
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
    // A writable copy outside the system prefixes (a build tree, a portable folder) keeps its
    // own folder and makes no data folder.
    const std::filesystem::path portable = dir.path() / "portable";
    EXPECT_EQ(ProgramPaths::folderFor(portable, true), portable);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "share"));
    // Under a system prefix the user's folder is used even when root may write there.
    for (const bool writable : {true, false}) {
        const auto folder = ProgramPaths::folderFor("/usr/bin", writable);
        EXPECT_EQ(folder, dir.path() / "share" / "lanrove-setup");
        EXPECT_TRUE(std::filesystem::is_directory(folder));
    }
    EXPECT_EQ(ProgramPaths::folderFor("/opt/lanrove/bin", true),
              dir.path() / "share" / "lanrove-setup");
    EXPECT_EQ(ProgramPaths::folderFor("/optional/bin", true), "/optional/bin");
    // A data folder that cannot be made leaves an unwritable portable copy its own folder, and
    // never sends an installed one back into the system folder.
    std::ofstream(dir.path() / "file") << "x";
    EnvGuard blocked("XDG_DATA_HOME", (dir.path() / "file").c_str());
    EXPECT_EQ(ProgramPaths::folderFor(portable, false), portable);
    EXPECT_NE(ProgramPaths::folderFor("/usr/bin", true), "/usr/bin");
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
