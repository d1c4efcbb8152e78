#pragma once
// The checks of the automatic and the manual IP setting, shared by the dialogs and the
// command-line tool: the start-address pre-fill and clamp, the range check that builds the
// candidate list, the field rules (address text, port, mask, login name) and the choice of the
// confirmation text. Pure functions over the adapter in use; nothing here touches the network.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "discovery/adapter_entry.h"

namespace lanrove {

// Control identifiers of the setting dialogs that a failed check puts the focus on.
enum SettingFieldId : int {
    kIdFieldIp = 1045,       // start address (automatic) / IP address (manual)
    kIdFieldEnd = 1046,      // end address (automatic)
    kIdFieldMask = 1046,     // subnet mask (manual)
    kIdFieldGateway = 1047,  // gateway (manual)
    kIdFieldPort = 1034,     // port (manual)
    kIdLoginUser = 1018,
    kIdLoginPassword = 1019,
    kIdLoginPort = 1063,
};

// The adapter's address, mask, network address N and broadcast address B (host order).
struct AdapterSubnet {
    std::uint32_t address = 0;
    std::uint32_t mask = 0;
    std::uint32_t network = 0;
    std::uint32_t broadcast = 0;
    explicit AdapterSubnet(const AdapterEntry& adapter);
    std::uint32_t hostPart(std::uint32_t x) const { return x & ~mask; }
    // Host part neither 0 nor all host bits set.
    bool isHostAddress(std::uint32_t x) const { return hostPart(x) != 0 && hostPart(x) != ~mask; }
    // 0 counts as inside, and so do N and B.
    bool isOutside(std::uint32_t x) const { return x != 0 && (x > broadcast || x < network); }
};

// ---- Automatic setting ----

// The start address the dialog opens with: the gateway (or N when there is none) with 1 added
// to its last octet.
std::u16string autoStartPrefill(const AdapterEntry& adapter);
// The start address after the user changed it to `x`: B - 1 above B, N + 1 below N, else `x`
// (0 stays 0).
std::uint32_t clampAutoStart(const AdapterEntry& adapter, std::uint32_t x);

// The candidate addresses of the automatic setting: from `first` to `last` inclusive, ascending,
// host parts 0 and all ones (with `mask`) left out; or an explicit list (the address plans,
// tests). Produced one at a time, so that a /8 costs no more memory than a /24. A copy goes on
// from where the original stood.
class CandidateAddresses {
  public:
    CandidateAddresses() = default;
    CandidateAddresses(std::uint32_t first, std::uint32_t last, std::uint32_t mask);
    explicit CandidateAddresses(std::vector<std::u16string> list);
    // How many addresses the whole sequence holds (not only what is left).
    std::uint64_t count() const;
    bool empty() const { return count() == 0; }
    // The first and the last address ("" when empty).
    std::u16string front() const;
    std::u16string back() const;
    // The next address into `out`; false when none is left.
    bool next(std::u16string& out);
    // Every address as a list (small ranges only: tests and the dialog's callers).
    std::vector<std::u16string> all() const;

  private:
    bool isHost(std::uint64_t x) const;
    bool m_bList = false;
    std::vector<std::u16string> m_list;
    std::uint64_t m_first = 1;  // first > last: empty
    std::uint64_t m_last = 0;
    std::uint32_t m_mask = 0;
    std::uint64_t m_next = 1;  // the range's next number, or the list's next index
};

enum class SettingCheck {
    Ok,
    Illegal,   // ERROR_WINDOW/ERROR_ID_PASSWORD
    HostPart,  // ERROR_WINDOW/ERROR_IP
    Mask,      // ERROR_WINDOW/ERROR_SUBNET_MASK
};

struct AutoRangeResult {
    SettingCheck check = SettingCheck::Ok;
    int focus = 0;  // control to focus on failure
    // Event line message on failure ("The automatic setting is illegal", ...).
    const char* eventMessage = "";
    CandidateAddresses candidates;  // ascending, host parts 0 and all-ones left out
};

// Execute of the automatic-setting dialog: `from` must pass the address text rule and lie in
// the adapter's subnet (the dialog's clamp already ensures it); a non-blank
// `to` (not 0.0.0.0) must lie between `from` and B and not below N; the start address must be a
// host address. A blank end means the broadcast address of the start address's subnet.
AutoRangeResult checkAutoRange(const AdapterEntry& adapter, std::u16string_view from,
                               std::u16string_view to);

// ---- Manual setting ----

// 1 to 5 digits, value at most 65535 (0 passes).
bool isValidPortText(std::u16string_view text);
// Once a 0 bit has been seen (from the most significant), no 1 bit follows.
bool isContiguousMask(std::uint32_t mask);
// Login name and password: 4 to 32 ASCII letters or digits.
bool isValidLoginText(std::u16string_view text);

struct ManualFields {
    std::u16string ip;
    std::u16string mask;
    std::u16string gateway;
    std::u16string port;
};

struct ManualCheckResult {
    SettingCheck check = SettingCheck::Ok;
    int focus = 0;
    const char* eventMessage = "";
    // The new address or gateway lies outside the adapter's subnet: the confirmation warns
    // that the camera will not be reachable (CUSTOM_SETTING_MSG2 instead of MSG1).
    bool unreachableAfter = false;
};

// Execute of the manual-setting dialog, in the dialog's order: syntax of address, mask,
// gateway and port; host part of the address (with the adapter's mask); the mask rule.
ManualCheckResult checkManualFields(const AdapterEntry& adapter, const ManualFields& fields);

// Execute of the login dialog: user, password, port in this order; focus on the first failing.
struct LoginCheckResult {
    bool ok = true;
    int focus = 0;
};
LoginCheckResult checkLoginFields(std::u16string_view user, std::u16string_view password,
                                  std::u16string_view port);

// What the manual setting does before its dialog, from the camera's status and address.
enum class LoginStep {
    Skip,          // NEW inside the subnet: the default account stands
    AskPrefilled,  // login dialog with the defaults shown, accepted without a request
    TestDefault,   // OK inside the subnet: try the default account; ask (empty) when refused
};
LoginStep manualLoginStep(bool statusOk, bool statusNew, bool outsideSubnet);

}  // namespace lanrove
