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
    // Writable or not (root may write anywhere), an installed copy uses the data folder.
    const auto folder = ProgramPaths::folderFor("/usr/bin", true);
    EXPECT_EQ(folder, dir.path() / "share" / "lanrove-setup");
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    EXPECT_EQ(std::filesystem::status(folder).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_all);
    EXPECT_EQ(ProgramPaths::folderFor("/opt/lanrove/bin", false), folder);
    // A build tree or a portable copy keeps its own folder; a read-only one uses the data folder.
    EXPECT_EQ(ProgramPaths::folderFor("/home/installer/lanrove", true), "/home/installer/lanrove");
    EXPECT_EQ(ProgramPaths::folderFor("/media/stick/lanrove", false), folder);
    // A data folder that cannot be made leaves a portable copy where it is, and an installed
    // one still out of its system folder (the logs stay off instead).
    std::ofstream(dir.path() / "file") << "x";
    EnvGuard blocked("XDG_DATA_HOME", (dir.path() / "file").c_str());
    EXPECT_EQ(ProgramPaths::folderFor("/media/stick/lanrove", false), "/media/stick/lanrove");
    EXPECT_EQ(ProgramPaths::folderFor("/usr/bin", true), dir.path() / "file" / "lanrove-setup");
}

TEST(ProgramPaths, SystemFoldersAreTheInstallPrefixesAndWhatLiesBelowThem) {
    for (const char* system : {"/usr", "/usr/bin", "/usr/local/bin", "/opt", "/opt/lanrove/bin",
                               "/usr/local/../bin", "/opt/./x/"})
        EXPECT_TRUE(ProgramPaths::isSystemFolder(system)) << system;
    for (const char* other : {"/", "/usrlocal/bin", "/optical", "/home/usr/bin", "/tmp/opt",
                              "/usr/../home/x", "usr/bin", "build/default/src"})
        EXPECT_FALSE(ProgramPaths::isSystemFolder(other)) << other;
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
