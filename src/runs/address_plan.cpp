#include "runs/address_plan.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "cgi/cgi.h"
#include "discovery/camera_status.h"
#include "discovery/ipv4_address.h"
#include "discovery/send_schedule.h"
#include "runs/ip_setting_rules.h"
#include "support/text.h"

namespace lanrove {

namespace {

enum class Column { Mac, Ip, Mask, Gateway, Port, Ssl, Title, User, Password };

const std::map<std::string, Column>& columnNames() {
    static const std::map<std::string, Column> names{
        {"mac", Column::Mac},         {"ip", Column::Ip},     {"mask", Column::Mask},
        {"gateway", Column::Gateway}, {"port", Column::Port}, {"ssl", Column::Ssl},
        {"title", Column::Title},     {"user", Column::User}, {"password", Column::Password}};
    return names;
}

std::string trim(std::string_view s) {
    std::size_t a = 0;
    std::size_t b = s.size();
    while (a < b && (s[a] == ' ' || s[a] == '\t')) ++a;
    while (b > a && (s[b - 1] == ' ' || s[b - 1] == '\t')) --b;
    return std::string(s.substr(a, b - a));
}

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Strict UTF-8 (no overlongs, no surrogates, nothing above U+10FFFF).
bool isUtf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t n = 0;
        std::uint32_t cp = 0;
        if (c < 0x80) {
            ++i;
            continue;
        }
        if ((c & 0xE0) == 0xC0) {
            n = 1;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            n = 2;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            n = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + n >= s.size()) return false;  // cut short
        for (std::size_t k = 1; k <= n; ++k) {
            const auto d = static_cast<unsigned char>(s[i + k]);
            if ((d & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (d & 0x3F);
        }
        if ((n == 1 && cp < 0x80) || (n == 2 && cp < 0x800) || (n == 3 && cp < 0x10000) ||
            cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += n + 1;
    }
    return true;
}

// Splits one line into fields; double quotes may enclose a field ("" is a quote inside).
bool splitFields(std::string_view line, char separator, std::vector<std::string>& out) {
    out.clear();
    std::string field;
    bool quoted = false;
    bool wasQuoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"') {
                if (i + 1 < line.size() && line[i + 1] == '"') {
                    field += '"';
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                field += c;
            }
        } else if (c == '"' && trim(field).empty() && !wasQuoted) {
            field.clear();
            quoted = true;
            wasQuoted = true;
        } else if (c == separator) {
            out.push_back(wasQuoted ? field : trim(field));
            field.clear();
            wasQuoted = false;
        } else if (wasQuoted && c != ' ' && c != '\t') {
            return false;  // text after a closing quote
        } else if (!wasQuoted) {
            field += c;
        }
    }
    if (quoted) return false;
    out.push_back(wasQuoted ? field : trim(field));
    return true;
}

bool isHex(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

std::optional<bool> sslValue(const std::string& text) {
    const std::string v = lower(text);
    if (v == "1" || v == "on" || v == "yes" || v == "true") return true;
    if (v == "0" || v == "off" || v == "no" || v == "false") return false;
    return std::nullopt;
}

bool fail(PlanError& error, int line, std::string message) {
    error.line = line;
    error.message = std::move(message);
    return false;
}

std::string u8(std::u16string_view s) {
    return toUtf8(s);
}

}  // namespace

std::optional<std::string> normaliseMac(std::string_view input) {
    const std::string text = trim(input);
    char separator = 0;
    std::vector<std::size_t> groups{0};
    std::string hex;
    for (char c : text) {
        if (isHex(c)) {
            hex += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            ++groups.back();
        } else if (c == ':' || c == '-' || c == '.') {
            if (separator != 0 && separator != c) return std::nullopt;
            separator = c;
            groups.push_back(0);
        } else {
            return std::nullopt;
        }
    }
    if (hex.size() != 12) return std::nullopt;
    const bool pairs = groups.size() == 6 &&
                       std::all_of(groups.begin(), groups.end(), [](auto n) { return n == 2; });
    const bool quads = groups.size() == 3 &&
                       std::all_of(groups.begin(), groups.end(), [](auto n) { return n == 4; });
    if (groups.size() != 1 && !pairs && !quads) return std::nullopt;
    std::string out;
    for (std::size_t i = 0; i < 12; i += 2) {
        if (!out.empty()) out += ':';
        out += hex.substr(i, 2);
    }
    return out;
}

bool readAddressPlan(std::string_view bytes, AddressPlan& out, PlanError& error) {
    out.rows.clear();
    error = {};
    if (bytes.size() > kMaxPlanBytes) return fail(error, 0, "the file is too large for a plan");
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    // Lines, and the first place where the file stops being text.
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= bytes.size(); ++i) {
        if (i == bytes.size() || bytes[i] == '\n') {
            std::string_view line = bytes.substr(start, i - start);
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            if (i < bytes.size() || !line.empty()) lines.push_back(line);
            start = i + 1;
        }
    }
    for (std::size_t n = 0; n < lines.size(); ++n) {
        const std::string_view line = lines[n];
        const bool control = std::any_of(line.begin(), line.end(), [](char c) {
            const auto u = static_cast<unsigned char>(c);
            return u < 0x20 && c != '\t';
        });
        if (control || !isUtf8(line))
            return fail(error, static_cast<int>(n + 1), "not text (a plan is UTF-8 CSV)");
    }

    std::size_t n = 0;
    auto skippable = [](std::string_view l) {
        const std::string t = trim(l);
        return t.empty() || t[0] == '#';
    };
    while (n < lines.size() && skippable(lines[n])) ++n;
    if (n == lines.size()) return fail(error, 0, "the plan is empty (no header line)");
    const int headerLine = static_cast<int>(n + 1);
    const std::string_view header = lines[n++];
    char separator = ',';
    for (char c : header)
        if (c == ',' || c == ';' || c == '\t') {
            separator = c;
            break;
        }
    std::vector<std::string> names;
    if (!splitFields(header, separator, names))
        return fail(error, headerLine, "unbalanced quotes in the header");
    std::vector<Column> columns;
    std::set<Column> seen;
    for (const std::string& raw : names) {
        const std::string name = lower(trim(raw));
        const auto it = columnNames().find(name);
        if (it == columnNames().end())
            return fail(error, headerLine,
                        "unknown column \"" + raw +
                            "\" (known: mac, ip, mask, gateway, port, ssl, title, user, "
                            "password)");
        if (!seen.insert(it->second).second)
            return fail(error, headerLine, "column \"" + name + "\" given twice");
        columns.push_back(it->second);
    }
    if (seen.count(Column::Mac) == 0) return fail(error, headerLine, "no mac column");
    if (seen.count(Column::User) != seen.count(Column::Password))
        return fail(error, headerLine, "the user and password columns go together");

    std::set<std::string> macs;
    std::vector<std::string> fields;
    for (; n < lines.size(); ++n) {
        const int lineNo = static_cast<int>(n + 1);
        if (skippable(lines[n])) continue;
        if (!splitFields(lines[n], separator, fields))
            return fail(error, lineNo, "unbalanced quotes");
        if (fields.size() > columns.size())
            return fail(error, lineNo,
                        "more fields (" + std::to_string(fields.size()) + ") than columns (" +
                            std::to_string(columns.size()) + ")");
        if (out.rows.size() >= kMaxPlanRows)
            return fail(error, lineNo,
                        "more than " + std::to_string(kMaxPlanRows) + " rows in the plan");
        PlanRow row;
        row.line = lineNo;
        for (std::size_t i = 0; i < fields.size(); ++i) {
            const std::string& v = fields[i];
            if (v.empty()) continue;  // a blank cell keeps the camera's value
            switch (columns[i]) {
                case Column::Mac: {
                    const auto mac = normaliseMac(v);
                    if (!mac) return fail(error, lineNo, "bad MAC address \"" + v + "\"");
                    row.mac = *mac;
                    break;
                }
                case Column::Ip:
                case Column::Mask:
                case Column::Gateway: {
                    const char* what = columns[i] == Column::Ip     ? "IP address"
                                       : columns[i] == Column::Mask ? "subnet mask"
                                                                    : "gateway";
                    if (!ipv4::isValidAddressText(fromUtf8(v)))
                        return fail(error, lineNo, std::string("bad ") + what + " \"" + v + "\"");
                    (columns[i] == Column::Ip     ? row.ip
                     : columns[i] == Column::Mask ? row.mask
                                                  : row.gateway) = v;
                    break;
                }
                case Column::Port:
                    if (!isValidPortText(fromUtf8(v)))
                        return fail(error, lineNo, "bad port \"" + v + "\" (0 to 65535)");
                    row.port = v;
                    break;
                case Column::Ssl: {
                    const auto on = sslValue(v);
                    if (!on) return fail(error, lineNo, "bad ssl value \"" + v + "\" (on or off)");
                    row.ssl = *on ? "1" : "0";
                    break;
                }
                case Column::Title:
                    if (fromUtf8(v).size() > kMaxPlanTitleChars)
                        return fail(error, lineNo,
                                    "title longer than " + std::to_string(kMaxPlanTitleChars) +
                                        " characters");
                    row.title = v;
                    break;
                case Column::User:
                    row.user = v;
                    break;
                case Column::Password:
                    row.password = v;
                    break;
            }
        }
        if (row.mac.empty()) return fail(error, lineNo, "no MAC address");
        if (row.user.has_value() != row.password.has_value())
            return fail(error, lineNo, "a user needs a password, and a password a user");
        if (row.user &&
            (!isValidLoginText(fromUtf8(*row.user)) || !isValidLoginText(fromUtf8(*row.password))))
            return fail(error, lineNo, "user and password are 4 to 32 letters or digits");
        if (!macs.insert(row.mac).second)
            return fail(error, lineNo, "MAC " + row.mac + " is in the plan twice");
        out.rows.push_back(std::move(row));
    }
    return true;
}

bool loadAddressPlan(const std::string& path, AddressPlan& out, PlanError& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return fail(error, 0, "cannot read " + path);
    std::string bytes;
    bytes.resize(kMaxPlanBytes + 1);
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return readAddressPlan(bytes, out, error);
}

const char* planStateName(PlanRowState state) {
    switch (state) {
        case PlanRowState::Ready:
            return "ready";
        case PlanRowState::NotFound:
            return "not-found";
        case PlanRowState::Refused:
            return "refused";
        case PlanRowState::Set:
            return "set";
        case PlanRowState::Caution:
            return "caution";
        case PlanRowState::Unchanged:
            return "unchanged";
    }
    return "?";
}

namespace {

void refuseRow(PlanRowCheck& c, const char* reason, std::string message) {
    c.state = PlanRowState::Refused;
    c.reason = reason;
    c.message = std::move(message);
}

// The values the row would send, over the camera's own where the plan names none.
struct PlannedFields {
    std::u16string ip, mask, gateway, port;
};

PlannedFields plannedFields(const PlanRow& row, const CameraEntry& work) {
    // Turning SSL on or off moves an unnamed port to the protocol's own, as the dialog's
    // check box does; a camera already on the planned SSL keeps its port.
    const bool sslTurns = row.ssl && *row.ssl != u8(fieldView(work.szSsl));
    const std::string port = row.port   ? *row.port
                             : sslTurns ? std::string(*row.ssl == "1" ? "443" : "80")
                                        : u8(fieldView(work.szPort));
    return {fromUtf8(row.ip.value_or(u8(fieldView(work.szIp)))),
            fromUtf8(row.mask.value_or(u8(fieldView(work.szMask)))),
            fromUtf8(row.gateway.value_or(u8(fieldView(work.szGateway)))), fromUtf8(port)};
}

CameraEntry withPlanned(const CameraEntry& work, const PlanRow& row, const PlannedFields& f) {
    CameraEntry edited = work;
    setField(edited.szIp, std::u16string_view(f.ip));
    setField(edited.szMask, std::u16string_view(f.mask));
    setField(edited.szGateway, std::u16string_view(f.gateway));
    setField(edited.szPort, std::u16string_view(f.port));
    if (row.title) setField(edited.szTitle, std::string_view(*row.title));
    if (row.ssl) setField(edited.szSsl, std::string_view(*row.ssl));
    return edited;
}

// The camera as the setting dialog starts from it: an unlisted port or SSL flag as the
// dialog shows it.
CameraEntry withDialogDefaults(const CameraEntry& listed) {
    CameraEntry work = listed;
    if (fieldEmpty(work.szPort)) setField(work.szPort, std::u16string_view(u"80"));
    if (fieldEmpty(work.szSsl)) setField(work.szSsl, std::u16string_view(u"0"));
    return work;
}

}  // namespace

std::vector<std::string> plannedChanges(const CameraEntry& before, const CameraEntry& after) {
    // Addresses and ports by value: "192.168.0.031" in a plan is the camera's 192.168.0.31,
    // and a text difference alone must not send the setting on every run.
    const auto sameNumber = [](std::u16string_view a, std::u16string_view b, bool address) {
        if (a == b) return true;
        if (address) {
            const auto x = ipv4::parse(a);
            const auto y = ipv4::parse(b);
            return x && y && *x == *y;
        }
        if (!isValidPortText(a) || !isValidPortText(b)) return false;
        return std::stoul(u8(a)) == std::stoul(u8(b));
    };
    std::vector<std::string> out;
    if (!sameNumber(fieldView(before.szIp), fieldView(after.szIp), true)) out.emplace_back("ip");
    if (!sameNumber(fieldView(before.szMask), fieldView(after.szMask), true))
        out.emplace_back("mask");
    if (!sameNumber(fieldView(before.szGateway), fieldView(after.szGateway), true))
        out.emplace_back("gateway");
    if (!sameNumber(fieldView(before.szPort), fieldView(after.szPort), false))
        out.emplace_back("port");
    if (fieldView(before.szSsl) != fieldView(after.szSsl)) out.emplace_back("ssl");
    if (fieldView(before.szTitle) != fieldView(after.szTitle)) out.emplace_back("title");
    return out;
}

std::vector<PlanRowCheck> checkAddressPlan(const AddressPlan& plan, const PlanCheckContext& ctx,
                                           TraceLog& log) {
    std::vector<PlanRowCheck> out;
    out.reserve(plan.rows.size());
    const AdapterSubnet subnet(ctx.adapter);
    const bool haveAdapter = !ctx.adapter.ip().empty();

    for (const PlanRow& row : plan.rows) {
        PlanRowCheck c;
        c.row = row;
        for (std::size_t i = 0; i < ctx.cameraCount; ++i) {
            const CameraEntry& e = ctx.cameras[i];
            if (!e.inUse()) continue;
            if (u8(fieldView(e.szMac)) == row.mac) {
                c.tableIndex = static_cast<int>(i);
                c.before = e;
                break;
            }
        }
        if (c.tableIndex < 0) {
            c.state = PlanRowState::NotFound;
            c.reason = "not-found";
            c.message = "no camera with this MAC was found";
            out.push_back(std::move(c));
            continue;
        }
        if (!haveAdapter) {
            refuseRow(c, plan_reason::kNoAdapter, "no adapter with an IPv4 address");
            out.push_back(std::move(c));
            continue;
        }
        // Nothing to send: the camera is as planned. Checked before the login test, so that
        // a plan applied again sends no request at all.
        CameraEntry work = withDialogDefaults(c.before);
        {
            const CameraEntry planned = withPlanned(work, row, plannedFields(row, work));
            if (plannedChanges(work, planned).empty()) {
                c.state = PlanRowState::Unchanged;
                c.message = "already as planned";
                c.login = work;
                c.after = planned;
                out.push_back(std::move(c));
                continue;
            }
        }
        // The Manual setting button's work copy and login step.
        setField(work.szUser, std::u16string_view(kDefaultCredential));
        setField(work.szPassword, std::u16string_view(kDefaultCredential));
        const bool statusOk = fieldView(c.before.szStatus) == ctx.okText;
        const bool statusNew = fieldView(c.before.szStatus) == ctx.newText;
        const bool outside = subnet.isOutside(ipv4::fromTextOrZero(u8(fieldView(c.before.szIp))));
        c.statusWasOk = statusOk;
        const auto useGiven = [&] {
            setField(work.szUser, std::string_view(*row.user));
            setField(work.szPassword, std::string_view(*row.password));
        };
        const LoginStep step = manualLoginStep(statusOk, statusNew, outside);
        if (step == LoginStep::AskPrefilled && row.user) {
            useGiven();
        } else if (step == LoginStep::TestDefault && ctx.loginTest &&
                   ctx.loginTest(work) >= kCgiFailed) {
            if (!row.user) {
                refuseRow(c, plan_reason::kNeedsLogin,
                          "the camera refuses the default account; give user and password "
                          "columns");
                out.push_back(std::move(c));
                continue;
            }
            useGiven();
            if (ctx.loginTest(work) >= kCgiFailed) {
                log.event("Failed in log in", "err", u8(fieldView(c.before.szTitle)));
                refuseRow(c, plan_reason::kLoginRefused, "the camera refuses the plan's account");
                out.push_back(std::move(c));
                continue;
            }
        }
        c.login = work;

        // The setting dialog's fields: the camera's values unless the plan names them.
        const PlannedFields planned = plannedFields(row, work);
        ManualFields fields{planned.ip, planned.mask, planned.gateway, planned.port};
        const ManualCheckResult check = checkManualFields(ctx.adapter, fields);
        c.after = withPlanned(work, row, {fields.ip, fields.mask, fields.gateway, fields.port});
        c.unreachableAfter = check.unreachableAfter;
        if (check.check != SettingCheck::Ok) {
            const std::string title = u8(fieldView(c.before.szTitle));
            if (check.eventMessage != nullptr && *check.eventMessage != '\0')
                log.event(check.eventMessage, "err", title);
            switch (check.check) {
                case SettingCheck::Mask:
                    refuseRow(c, plan_reason::kMask, "bad subnet mask " + u8(fields.mask));
                    break;
                case SettingCheck::HostPart:
                    refuseRow(c, plan_reason::kHostPart,
                              u8(fields.ip) + " is the subnet's network or broadcast address");
                    break;
                case SettingCheck::Illegal:
                case SettingCheck::Ok: {
                    // A blank cell keeps the camera's value, which may itself break the rule
                    // (a factory camera without a gateway): say which field.
                    const auto [name, value] =
                        check.focus == kIdFieldIp        ? std::pair{"IP address", fields.ip}
                        : check.focus == kIdFieldMask    ? std::pair{"subnet mask", fields.mask}
                        : check.focus == kIdFieldGateway ? std::pair{"gateway", fields.gateway}
                                                         : std::pair{"port", fields.port};
                    refuseRow(c, plan_reason::kIllegal,
                              std::string(name) + " \"" + u8(value) +
                                  "\" breaks the address rules; give it in the plan");
                    break;
                }
            }
        }
        out.push_back(std::move(c));
    }

    // Plan-wide: one address for two rows.
    std::map<std::string, int> uses;
    for (const PlanRowCheck& c : out)
        if (c.state == PlanRowState::Ready) ++uses[u8(fieldView(c.after.szIp))];
    for (PlanRowCheck& c : out) {
        if (c.state != PlanRowState::Ready) continue;
        const std::string ip = u8(fieldView(c.after.szIp));
        if (uses[ip] > 1) refuseRow(c, plan_reason::kTwice, ip + " is given to more than one row");
    }
    // An address a listed camera holds, unless that camera moves away with this plan.
    std::set<std::string> moving;
    for (const PlanRowCheck& c : out)
        if (c.state == PlanRowState::Ready && fieldView(c.after.szIp) != fieldView(c.before.szIp))
            moving.insert(c.row.mac);
    for (PlanRowCheck& c : out) {
        if (c.state != PlanRowState::Ready) continue;
        const std::u16string ip(fieldView(c.after.szIp));
        for (std::size_t i = 0; i < ctx.cameraCount; ++i) {
            const CameraEntry& e = ctx.cameras[i];
            if (!e.inUse() || static_cast<int>(i) == c.tableIndex) continue;
            if (fieldView(e.szIp) != ip || moving.count(u8(fieldView(e.szMac))) != 0) continue;
            refuseRow(c, plan_reason::kListed,
                      u8(ip) + " is the address of listed camera " + u8(fieldView(e.szMac)) +
                          " (No. " + u8(fieldView(e.szNo)) + ")");
            break;
        }
    }
    // Some host answers for a new address: the echo and the neighbour table, in batches.
    if (ctx.probe != nullptr) {
        // Addresses that cameras of the plan hold now answer for them, not for a stranger.
        std::set<std::u16string> held;
        for (const PlanRowCheck& c : out)
            if (c.state == PlanRowState::Ready)
                held.insert(std::u16string(fieldView(c.before.szIp)));
        std::vector<std::u16string> candidates;
        for (const PlanRowCheck& c : out) {
            if (c.state != PlanRowState::Ready) continue;
            const std::u16string ip(fieldView(c.after.szIp));
            if (held.count(ip) == 0) candidates.push_back(ip);
        }
        if (!candidates.empty()) {
            ctx.probe->useAdapter(ctx.adapter);
            const FreeAddressResult free =
                findFreeAddresses(candidates, static_cast<int>(candidates.size()), *ctx.probe, log);
            const std::set<std::u16string> freeSet(free.addresses.begin(), free.addresses.end());
            for (PlanRowCheck& c : out) {
                if (c.state != PlanRowState::Ready) continue;
                const std::u16string ip(fieldView(c.after.szIp));
                if (held.count(ip) == 0 && freeSet.count(ip) == 0)
                    refuseRow(c, plan_reason::kInUse, u8(ip) + " answers: a host uses it");
            }
        }
    }
    for (const PlanRowCheck& c : out)
        log.trace(1, "Plan Line(%d) Mac(%s) %s %s", c.row.line, c.row.mac.c_str(),
                  planStateName(c.state), c.reason.c_str());
    return out;
}

void judgePlanRow(PlanRowCheck& check, bool runSucceeded, const CameraEntry* found) {
    if (check.state != PlanRowState::Ready) return;
    if (!runSucceeded) {
        check.state = PlanRowState::Caution;
        check.reason = plan_reason::kNotSet;
        check.message = "the camera did not confirm the setting";
        return;
    }
    if (found == nullptr || fieldView(found->szIp) != fieldView(check.after.szIp)) {
        check.state = PlanRowState::Caution;
        check.reason = plan_reason::kNotSeen;
        check.message = found == nullptr
                            ? "the camera was not found in the next search"
                            : "the next search lists it at " + u8(fieldView(found->szIp));
        return;
    }
    check.state = PlanRowState::Set;
    check.reason.clear();
    check.message.clear();
}

}  // namespace lanrove
