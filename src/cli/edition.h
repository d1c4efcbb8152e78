#pragma once
// The edition of the command-line tool, decided like the desktop program's: by the name the
// tool was started under. A name whose upper-cased base name holds "_FWTOOL" (a copy or a
// symlink such as lanrove-cli_fwtool) is the maintenance edition, which has the factory reset
// and the firmware commands.

namespace lanrove::cli {

// argv[0]'s base name, as typed: a symlink's own name counts, not its target's.
bool maintenanceEdition(const char* argv0);

// For a command of the maintenance edition: true in that edition; otherwise tells on standard
// error why `command` is refused and returns false (the caller exits with kExitUsage).
bool requireMaintenanceEdition(const char* argv0, const char* command);

}  // namespace lanrove::cli
