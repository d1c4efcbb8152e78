#pragma once
// The simulated cameras: what each one is, its current network settings and its test faults.
// The datagram side and the web side share one Fleet; every access goes through its mutex.

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace lanrove::camsim {

struct SimAccount {
    std::string user;
    std::string password;
};

// A camera's firmware update as the web side runs it (web_firmware.h): the stored image and the
// times of its write, restart announcement and restart.
struct SimFirmware {
    using TimePoint = std::chrono::steady_clock::time_point;
    bool bBusy = false;          // an image is being written or the camera is restarting
    bool bRestartAsked = false;  // discon3.cgi asked for the restart during the write
    bool bInstall = false;       // the restart installs the image
    TimePoint writeEnd{};        // the image has been written
    TimePoint announceEnd{};     // the camera restarts by itself from here on
    TimePoint restartStart{};    // offline from here ...
    TimePoint restartEnd{};      // ... until here (never with "nocomeback")
    bool bRestarting = false;
    std::string fileName;             // as the part header named it
    std::string version;              // taken from the file name
    std::vector<std::uint8_t> image;  // the stored image: one copy per camera
    std::string sha256;               // of the stored image
    int uploads = 0;                  // images stored
};

// WS-Discovery and the ONVIF device service of a device. With `only` the device is another
// maker's: it answers nothing of this family (neither datagrams nor CGI).
struct SimOnvif {
    bool enabled = false;
    bool only = false;
    std::string uuid;  // endpoint reference "urn:uuid:..."
    std::string manufacturer, model, name, location;
    int xaddrPort = 80;
    long clockOffsetS = 0;       // added to the real UTC time the device service reports
    bool serviceSilent = false;  // takes device-service requests and never answers them
};

struct SimCamera {
    // Identity
    std::string model;  // "KT-XXXX"
    int protoVer = 2;   // discovery protocol version: 1 or 2
    std::uint8_t mac[6] = {};
    // Network settings (change with IP-setting datagrams and net.cgi)
    std::string ip;  // dotted
    std::string mask = "255.255.255.0";
    std::string gateway = "0.0.0.0";
    int port = 80;
    bool ssl = false;
    std::string title;
    bool factory = false;  // factory-default state (version 2 reports it)
    std::uint8_t netOption = 0;
    // Versions reported by cam_set.cgi / the search reply
    std::string firmVer;                          // search reply's firmware text
    std::map<std::string, std::string> versions;  // "CAM MAIN Ver" -> "1.20" ...
    int rtspRtp = 1;
    int aspectRatio = 0;  // 0 4:3, 1 16:9 ...
    int recStatus = 0;
    std::map<std::string, std::string> record;  // record.cgi settings
    // Firmware: protocol milliseconds the camera is offline after a restart command or an
    // update ("restartTime", default 0: stays up), spends writing an uploaded image
    // ("writeTime") and keeps announcing its restart before it restarts by itself.
    long restartMs = 0;
    long writeMs = 10000;
    long announceMs = 20000;
    SimFirmware firmware;
    unsigned imageCount = 0;  // liveimg.cgi pictures served so far
    // Accounts: configuration (admin), viewer and service accounts
    SimAccount admin{"admin", "12345"};
    SimAccount viewer;
    SimAccount service;
    // HTTP authentication the camera asks for: Basic, or Digest (MD5, qop "auth"), which
    // refuses Basic credentials and challenges with Digest only.
    bool digestAuth = false;
    // Faults for tests, by name ("silent", "twice", "result=NNN", "badcreds", "junk511",
    // "junk513", "unknowncmd", "http401", "wrongtype", "emptybody", "slow", "drop", "http500",
    // "noset": answers searches but never an IP-setting command; "spoof=IP": a second,
    // different reply for the same MAC follows each search reply, announcing IP and sent from
    // it (without IP: the same reply from any address); "ipreplydelay=MS": takes an
    // IP-setting command at once but answers it MS protocol milliseconds later; "netrefuse=NNN":
    // answers net.cgi with status NNN (default 403) and keeps title, port and SSL;
    // "closedport", "sslmismatch",
    // "trickle", "redirect" and the
    // firmware faults "firmrefuse", "firmcut", "firmsilent", "nocomeback", "oldversion": the
    // web side's header says what each web fault does; "notrailer", "imagetype",
    // "imagenolength", "imageshort", "imagestop=N": web_image.h says what they do to the
    // live picture).
    std::set<std::string> faults;
    std::map<std::string, std::string> faultArgs;  // "result" -> "200", "slow" -> "5000" ...

    // WS-Discovery: an ONVIF device (also one of ours unless onvif.only), or a printer that
    // answers probes with types of its own and nothing else.
    SimOnvif onvif;
    bool wsdPrinter = false;
    std::string wsdUuid;  // the printer's endpoint reference

    bool has(const std::string& fault) const { return faults.count(fault) != 0; }
    // Another maker's device: no discovery datagram, no CGI.
    bool foreign() const { return (onvif.enabled && onvif.only) || wsdPrinter; }
};

// A live host that is no camera: its address is kept on the cameras' interface, so it answers
// echoes (and takes an address out of the free ones) but no datagram.
struct SimHost {
    std::string ip;
    std::string mask = "255.255.255.0";
};

struct Fleet {
    std::mutex mutex;
    std::vector<SimCamera> cameras;
    std::vector<SimHost> hosts;
    // Called (without the mutex held) after a camera's address, port or SSL changed, so that
    // the side that serves it can follow: the datagram side calls it after an IP-setting
    // command, the web side after net.cgi. Index into `cameras`.
    std::function<void(std::size_t)> onNetworkChanged;
};

}  // namespace lanrove::camsim
