#pragma once
// The CGI programs of a simulated camera, without any network: a decoded request goes in, the
// reply comes out, and the camera record changes as the program says. The web side runs them
// with the fleet's mutex held.

#include <map>
#include <string>
#include <string_view>

#include "fleet.h"
#include "support/text.h"

namespace lanrove::camsim {

// Who logged in, by the Basic credentials of the request.
enum class WebRole { kNone, kViewer, kAdmin, kService };

// The fixed accounts that a camera knows when its record leaves them empty.
SimAccount viewerAccount(const SimCamera& camera);
SimAccount serviceAccount(const SimCamera& camera);

// Decodes "Basic <base64>" and matches it against the camera's accounts. `user` gets the
// decoded user name (in UTF-8), empty without a usable header.
WebRole authenticate(const SimCamera& camera, std::string_view authorization,
                     const WireCodec& codec, std::string& user);

// Digest authentication (MD5, qop "auth") of a camera in Digest mode. The challenge carries the
// web side's `nonce`; a request's credentials are checked against the camera's accounts for
// its `method` and request target `uri` (which the credentials must name).
std::string digestChallenge(std::string_view nonce);
WebRole authenticateDigest(const SimCamera& camera, std::string_view authorization,
                           std::string_view method, std::string_view uri, std::string_view nonce,
                           const WireCodec& codec, std::string& user);

struct CgiCall {
    std::string program;                             // "cgi-bin/lang.cgi", "liveimg.cgi"
    std::multimap<std::string, std::string> params;  // decoded query, values in wire bytes
};

struct CgiAnswer {
    int status = 200;
    std::string contentType = "text/html";
    std::string body;
    bool bNetworkChanged = false;  // address, port or SSL changed: listeners must follow
    std::string event;             // "reboot", "factory-default", ... for the request log
};

// Runs one program for a caller with `role` (kNone answers 401).
CgiAnswer runCgi(SimCamera& camera, const CgiCall& call, WebRole role, const WireCodec& codec);

// A camera's wire text from the fleet's UTF-8 text, and back.
std::string toWireText(const WireCodec& codec, std::string_view utf8);
std::string fromWireText(const WireCodec& codec, std::string_view bytes);

}  // namespace lanrove::camsim
