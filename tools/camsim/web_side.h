#pragma once
// The web side of the simulator: every camera of the fleet serves its CGI programs on its
// address and port, over HTTPS with a self-signed certificate when its SSL flag is set, with
// Basic authentication against its accounts. Cameras that share an address and port share one
// listener, and the first of them in the fleet answers. When a camera's address, port or SSL
// flag changes (net.cgi here, an IP-setting datagram on the other side), its listener follows.
//
// Test faults of a camera (SimCamera::faults): "http401" refuses every login, "wrongtype"
// answers with a Content-Type no program expects, "emptybody" answers 200 without a body,
// "slow" answers after faultArgs["slow"] protocol milliseconds (default 60000), "drop" closes
// every connection without an answer, "http500" answers 500, "netrefuse" answers net.cgi alone
// with faultArgs["netrefuse"] (default 403) and changes nothing. The live picture's faults
// ("notrailer", "imagetype", "imagenolength", "imageshort", "imagestop=N") are described in
// web_image.h. faultArgs["discon3"] (milliseconds, default 30000) and faultArgs["firmup"] (seconds,
// default 10) are the waits that the restart and upload result pages announce. "trickle" sends a
// status line and then an endless header, one byte every faultArgs["trickle"] protocol milliseconds
// (default 2000), until the client gives up: every header line is complete within a 10000 ms
// time-out, but the reply never is. "drop" and "trickle" serve plain HTTP, whatever the SSL flag
// says. "newcert" and "legacytls" choose the certificate of the camera's HTTPS listener
// (web_tls.h). The page "camsim/requests" lists what reached the camera: "METHOD program auth=0|1
// status=N" per line, itself not included.
// "redirect" answers every request with 302 to faultArgs["redirect"] followed by the request's
// program and query: by default "/moved/" on the same camera, which serves "moved/<program>"
// as <program>; an absolute "http://ip:port/" sends the client to another camera; "loop"
// redirects every request to itself, "none" answers 302 without a Location.
// "closedport" serves nothing on the camera's port (connections are refused); "sslmismatch"
// serves plain HTTP where the camera announces SSL, and HTTPS where it announces none. A
// camera whose credentials were changed has another "accounts" admin in the fleet file.
// A camera with SimCamera::digestAuth challenges with HTTP Digest and refuses Basic.
// ONVIF devices (SimCamera::onvif) serve POST /onvif/device_service on their address and
// xaddrPort (onvif_device.h); on a port of their own it is plain HTTP. Other makers' devices
// (SimCamera::foreign) serve nothing else; "service_silent" takes the request and never answers.
// The firmware upload POST, the restart after an update or a restart command, and the firmware
// faults "firmrefuse", "firmcut", "firmsilent", "nocomeback", "oldversion", "writefail" and
// "norestart" are described in web_firmware.h.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fleet.h"
#include "support/clock.h"
#include "support/text.h"
#include "support/trace_log.h"

namespace lanrove::camsim {

// One request as the web side saw it.
struct WebRequestRecord {
    std::size_t camera = 0;       // index into the fleet
    std::string method;           // "GET", "POST"
    std::string program;          // "cgi-bin/lang.cgi"
    std::string query;            // the request target's query, as sent
    bool bAuthorization = false;  // the request carried an Authorization header
    std::string authScheme;       // its scheme: "Basic", "Digest", ...
    std::string user;             // the user name it gave
    std::string userAgent;        // User-Agent header
    std::string accept;           // Accept header
    int status = 0;               // status answered; 0 when the connection was dropped
    std::string event;            // what the program did ("reboot", "net", ...)
};

class WebSide {
  public:
    // `clock` scales the "slow" delay; `codePage` is the cameras' code page for wire texts.
    // With `bHookFleet` start() chains itself into fleet.onNetworkChanged (keeping any
    // handler that was there); without it the owner calls follow() itself.
    WebSide(Fleet& fleet, TraceLog& log, const Clock& clock = defaultClock(),
            std::string codePage = "CP1252", bool bHookFleet = true);
    ~WebSide();
    WebSide(const WebSide&) = delete;
    WebSide& operator=(const WebSide&) = delete;

    // Binds a listener for every distinct address and port of the fleet and starts serving.
    // Returns false when the HTTPS certificate could not be made or no camera could be
    // served; cameras whose address cannot be bound are logged and skipped.
    bool start();
    // Stops every listener; requests that are waiting (slow fault) end at once.
    void stop();

    // The camera at `index` changed its address, port or SSL flag: rebind its listener. The
    // rebind runs on the web side's own thread; settle() waits for it.
    void follow(std::size_t index);
    bool settle(std::chrono::milliseconds timeout);

    // "address:port" of every listener, with " https", " drop" or " trickle" where that
    // applies.
    std::vector<std::string> endpoints() const;
    std::vector<WebRequestRecord> requests() const;
    void clearRequests();

    struct Listener;
    struct Shared;

  private:
    void reconcile();
    void rebindLoop();

    Fleet& m_fleet;
    TraceLog& m_log;
    bool m_bHookFleet;
    std::shared_ptr<Shared> m_shared;
    mutable std::mutex m_listenMutex;
    std::vector<std::unique_ptr<Listener>> m_listeners;
    std::thread m_rebindThread;
    std::mutex m_rebindMutex;
    std::condition_variable m_rebindCv;
    bool m_bRebindDirty = false;
    bool m_bRebindBusy = false;
    bool m_bRebindQuit = false;
    bool m_bStarted = false;
};

}  // namespace lanrove::camsim
