#pragma once
// Address plans: a CSV file that says which camera (by MAC) gets which address, mask,
// gateway, port, SSL flag and title, as installers write them from the labels on the boxes.
// The reader checks the file's form; the row check matches each row to a listed camera and
// applies the manual setting's rules and the plan-wide ones (an address used twice, an address
// a listed camera outside the plan holds, an address some host answers for). Nothing here
// sends a setting; the caller runs the accepted rows through the settings run.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "discovery/adapter_entry.h"
#include "discovery/camera_entry.h"
#include "runs/settings_run.h"
#include "support/trace_log.h"

namespace lanrove {

inline constexpr std::size_t kMaxPlanRows = 1000;  // the camera table's size
inline constexpr std::size_t kMaxPlanBytes = std::size_t{1024} * 1024;
inline constexpr std::size_t kMaxPlanTitleChars = 16;  // the setting dialog's title field

// One row of the plan. A value that is absent (no column) or blank keeps the camera's own.
struct PlanRow {
    int line = 0;     // line number in the file (the header is line 1 or later)
    std::string mac;  // "AA:BB:CC:DD:EE:FF"
    std::optional<std::string> ip, mask, gateway, port, ssl, title, user, password;
};

struct AddressPlan {
    std::vector<PlanRow> rows;
};

struct PlanError {
    int line = 0;  // 0: the file as a whole
    std::string message;
};

// Any common MAC notation (aa:bb:cc:dd:ee:ff, aa-bb-..., aabb.ccdd.eeff, aabbccddeeff) as
// "AA:BB:CC:DD:EE:FF"; nullopt when it is none.
std::optional<std::string> normaliseMac(std::string_view input);

// Reads a plan: UTF-8 with or without BOM, a header naming the columns (mac, ip, mask,
// gateway, port, ssl, title, user, password; only mac required), fields separated by ',', ';'
// or tab (whichever the header uses), double quotes around a field allowed, blank lines and
// lines starting with '#' skipped. Refuses the whole plan, with the line number, on a missing
// mac column, an unknown or repeated column, a bad MAC or a MAC given twice, an address that
// breaks the address text rule, a bad port or SSL value, a title over 16 characters, a user
// without a password, too many fields, or text that is not UTF-8.
bool readAddressPlan(std::string_view bytes, AddressPlan& out, PlanError& error);
bool loadAddressPlan(const std::string& path, AddressPlan& out, PlanError& error);

// ---- Row check ----

enum class PlanRowState {
    Ready,      // accepted: will be sent
    NotFound,   // no listed camera has the MAC
    Refused,    // a check failed (see reason)
    Set,        // after the run: the camera answers with the planned values
    Caution,    // after the run: the setting failed or the camera is not seen as planned
    Unchanged,  // the camera already has every planned value: nothing is sent
};
const char* planStateName(PlanRowState state);

// Stable reason codes (documented with the JSON output).
namespace plan_reason {
inline constexpr const char* kIllegal = "illegal-setting";          // address/port rule
inline constexpr const char* kHostPart = "bad-host-part";           // network/broadcast address
inline constexpr const char* kMask = "bad-mask";                    // mask rule
inline constexpr const char* kTwice = "address-twice-in-plan";      // two rows, one address
inline constexpr const char* kListed = "address-of-listed-camera";  // held by a camera not in it
inline constexpr const char* kInUse = "address-in-use";             // a host answers for it
inline constexpr const char* kNeedsLogin = "needs-login";           // default account refused
inline constexpr const char* kLoginRefused = "login-refused";       // the plan's account refused
inline constexpr const char* kNoAdapter = "no-adapter";
inline constexpr const char* kNotSet = "not-set";               // the run gave no success
inline constexpr const char* kNotSeen = "not-seen-as-planned";  // the next search disagrees
}  // namespace plan_reason

struct PlanRowCheck {
    PlanRow row;
    PlanRowState state = PlanRowState::Ready;
    std::string reason;    // a plan_reason code; empty when accepted
    std::string message;   // for people
    int tableIndex = -1;   // camera-table index of the matched camera
    CameraEntry before{};  // the camera as listed
    CameraEntry login{};   // the work copy after the login step (credentials that reach it)
    CameraEntry after{};   // the settings record to send
    bool statusWasOk = false;
    bool unreachableAfter = false;  // the new address or gateway lies outside the subnet
};

struct PlanCheckContext {
    const CameraEntry* cameras = nullptr;  // the camera table
    std::size_t cameraCount = 0;
    AdapterEntry adapter{};
    std::u16string okText;  // status texts as the table holds them
    std::u16string newText;
    // The manual setting's login test (below 400: accepted). Called for OK cameras inside the
    // subnet only.
    std::function<int(const CameraEntry&)> loginTest;
    AddressProbe* probe = nullptr;  // null: no probe (tests of the other rules)
};

// The settings fields ("ip", "mask", "gateway", "port", "ssl", "title") where `after` differs
// from `before`, in that order.
std::vector<std::string> plannedChanges(const CameraEntry& before, const CameraEntry& after);

// Checks every row in plan order. A row whose camera already has every planned value is
// Unchanged before any request goes to it (no login test, no probe). The probe runs last, over the
// addresses still accepted, in batches of at most kProbeSlots.
std::vector<PlanRowCheck> checkAddressPlan(const AddressPlan& plan, const PlanCheckContext& ctx,
                                           TraceLog& log);

// The final state of a row that was sent, from the run's result and the next search's table
// (`found` null when the camera is no longer listed).
void judgePlanRow(PlanRowCheck& check, bool runSucceeded, const CameraEntry* found);

}  // namespace lanrove
