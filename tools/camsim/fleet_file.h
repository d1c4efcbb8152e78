#pragma once
// The fleet file: a JSON description of the simulated cameras.
//
// {
//   "defaults": { <camera fields> },              optional, under every camera
//   "cameras":  [ { <camera fields> }, ... ],
//   "generate": [ { "count": 1000, "macStart": "02:00:00:00:10:00",
//                   "ipStart": "192.168.0.100", "ipStep": 1,
//                   "titleFormat": "CAM-{n}", "camera": { <camera fields> } } ],
//   "hosts":    [ "192.168.0.20", "192.168.0.21-192.168.0.24", ... ]
// }
//
// "hosts" are live hosts that are no cameras: addresses (or inclusive ranges) kept on the
// cameras' interface with the mask of "defaults", so they answer echoes and nothing else.
//
// Camera fields: "model", "proto" (1 or 2), "mac", "ip", "mask", "gateway", "port", "ssl"
// (true/false or 0/1), "title", "firmware" (the search reply's version text), "factory",
// "netOption", "versions" {name: text}, "rtspRtp", "aspectRatio", "recStatus",
// "record" {name: text}, "restartTime", "writeTime", "announceTime" (protocol milliseconds of a
// firmware update: offline after a restart, writing an image, announcing the restart), "accounts"
// {"admin"|"viewer"|"service": {"user", "password"}}, "auth" ("basic", the default, or "digest":
// HTTP Digest authentication) and "faults" (["silent", "twice", "result=200", "badcreds",
// "junk511", "junk513", "unknowncmd", ...; for the live picture "notrailer", "imagetype",
// "imagenolength", "imageshort", "imagestop=N"]; "name=value" puts the value in faultArgs). "mac"
// and "ip" are required; MAC addresses must be unique. "onvif" {"uuid": "urn:uuid:...",
// "manufacturer", "model", "name", "location", "xaddr_port", "clock_offset_s", "service_silent",
// "only"} makes the device answer WS-Discovery probes and the ONVIF device service on its address
// and xaddr_port; with "only" it is another maker's device that answers nothing else. "wsd_printer"
// (true or {"uuid"}) is a WS-Discovery printer that answers probes with printer types only. An
// endpoint without "uuid" is made from the MAC address; endpoints must be unique. Accounts not
// given are the cameras' defaults: admin "vorly"/"vorly", viewer "pelma"/"pelma", service
// "kelvo"/"730162".

#include <string>
#include <string_view>
#include <vector>

#include "fleet.h"

namespace lanrove::camsim {

bool parseFleetJson(std::string_view text, std::vector<SimCamera>& out, std::string& error);
// The same with the live hosts.
bool parseFleetJson(std::string_view text, std::vector<SimCamera>& out, std::vector<SimHost>& hosts,
                    std::string& error);
bool loadFleetFile(const std::string& path, Fleet& fleet, std::string& error);

}  // namespace lanrove::camsim
