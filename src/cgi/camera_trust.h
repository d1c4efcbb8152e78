#pragma once
// What the program trusts of each camera, by MAC: the certificate pinned on the first HTTPS
// contact (kept in a small private file of the data folder, so that every run and both
// programs share it), and the search's mark on a camera that answered one search from two
// addresses (kept in memory until a new search agrees). The HTTP client asks it before any
// credentials go out. Thread-safe; the file is read afresh at each check so that a `trust`
// given in another process counts at once.

#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>

#include "cgi/cgi_session.h"

namespace lanrove {

struct CameraPin {
    std::string mac;          // normalised: "00:1B:7C:00:08:03"
    std::string fingerprint;  // the pinned certificate's SHA-256
    std::string offered;      // a different certificate the camera offered since; empty: none
    bool bExpectNew = false;  // the next certificate is accepted and pinned (reset, update)
    std::string legacyTls;    // TlsPeer::describe() of the last handshake when it was legacy
};

class CameraTrust {
  public:
    // `file` empty: pins live in memory only (tests, tools without a data folder).
    explicit CameraTrust(std::filesystem::path file = {});
    // The pin file of a data folder.
    static std::filesystem::path fileIn(const std::filesystem::path& folder);
    // "00:1b:7c:00:08:03" and "00-1B-7C-00-08-03" become "00:1B:7C:00:08:03"; empty when the
    // text is no MAC.
    static std::string normalMac(std::string_view text);

    enum class Verdict {
        kFirstUse,  // nothing pinned: pinned now
        kSame,      // the pinned certificate
        kRenewed,   // a new certificate was expected: pinned now
        kChanged,   // another certificate: refused, remembered as offered
    };
    // The handshake's certificate for the camera `mac`. Also keeps the legacy-TLS note.
    Verdict check(std::string_view mac, const TlsPeer& peer);
    std::optional<CameraPin> pin(std::string_view mac) const;
    // The camera's next different certificate is accepted (after a reset or firmware update);
    // the pinned one still passes meanwhile.
    bool expectNew(std::string_view mac);
    // The installer accepts the camera's new certificate: the offered one is pinned; with none
    // offered yet, the next one is. False when the file could not be written or no MAC.
    bool accept(std::string_view mac);

    // The search pass: a MAC that answered one search from two addresses.
    void markSpoofed(std::string_view mac, const std::string& addresses);
    void clearSpoofed(std::string_view mac);
    bool spoofed(std::string_view mac) const;
    std::string spoofedAddresses(std::string_view mac) const;

    // Refusals are told here (once per camera and certificate): the message names the camera,
    // what was seen and how to go on. The owner writes it as an event line and shows it.
    using RefusalSink = std::function<void(const std::string& mac, const std::string& message)>;
    void setRefusalSink(RefusalSink sink);
    // Tells the sink about a request refused to a spoofed camera.
    void refuseSpoofed(std::string_view mac);

    // The texts of a refusal (public for tests and the window).
    static std::string changedMessage(const std::string& mac, const std::string& pinned,
                                      const std::string& offered);
    static std::string spoofedMessage(const std::string& mac, const std::string& addresses);

    const std::filesystem::path& file() const { return m_file; }
    // The last failure to write the pin file ("" when none).
    std::string lastError() const;

  private:
    using Pins = std::map<std::string, CameraPin>;
    Pins loadLocked() const;
    bool saveLocked(const Pins& pins);
    void tell(const std::string& mac, const std::string& key, const std::string& message);

    std::filesystem::path m_file;
    mutable std::mutex m_mutex;
    Pins m_memory;  // without a file
    std::map<std::string, std::string> m_spoofed;
    std::set<std::string> m_told;
    RefusalSink m_sink;
    std::string m_lastError;
};

// Text forms of the file (public for tests).
std::string FormatCameraPins(const std::map<std::string, CameraPin>& pins);
std::map<std::string, CameraPin> ParseCameraPins(std::string_view text);

}  // namespace lanrove
