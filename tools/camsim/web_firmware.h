#pragma once
// The firmware side of a simulated camera: the multipart POST to cgi-bin/firmup.cgi, the
// "installation" of the image, the restart, and the pages that the camera shows meanwhile.
//
// An upload is checked byte for byte: the Content-Type must carry "boundary=" with 27 hyphens
// and the boundary id, the one part must be "firmware_file" of type application/octet-stream,
// and the Content-Length must equal the opening delimiter (29 hyphens), both part headers, the
// image and the closing delimiter. The image is kept (one copy per camera, replaced by the
// next upload) with its SHA-256. The camera then writes it for writeMs, announces its restart
// for announceMs (or until discon3.cgi asks for it), is offline for restartMs (connections are
// closed without an answer) and comes back with the version taken from the file name: the
// digits after the three-letter family prefix, read as decimal, else as hexadecimal
// ("RA20A1F3.BIN" gives 41459). The new version goes to the search reply's firmware text and to
// the versions entry faultArgs["installkey"] (default "CAM MAIN Ver"), keeping a date in
// parentheses that the entry had. An image of one component ("RP2CAM20100501.BIN") installs
// "V1.00(20100501)" into that component's entry only.
//
// Pages: firmup.cgi while writing shows a META refresh of 5; while announcing a setTimeout of
// the restart time (at least 1000); discon3.cgi while writing or announcing a setTimeout of the
// restart time and asks for the restart. A restart command (opecmd.cgi ope=35) takes the camera
// offline for restartMs. "camsim/firmware" (any account) is the simulator's own status text:
// uploads, file name, bytes and SHA-256 of the stored image, and the firmware version.
//
// Faults: "firmrefuse" reads the image and answers an error page with "code=E0103";
// "firmcut" closes the connection when half of the body has come; "firmsilent" stores the image
// and closes the connection without an answer, restarting at once; "nocomeback" never comes
// back from the restart; "oldversion" comes back with the version it had; "writefail" shows
// "code=E0201" on firmup.cgi while it writes; "norestart" refuses the restart command (503);
// "recordreset" forgets its recording settings when it installs an image.
// "firmstatus=NNN" reads the image and answers status NNN with a page without "code=";
// "restartonly" installs the image only on a restart command (until then it stays up with the
// version it had); "readrate=N" reads the POST body at N bytes per second of simulator time.

#include <httplib.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "fleet.h"
#include "support/clock.h"
#include "web_cgi.h"

namespace lanrove::camsim {

// Advances the camera's update by the time and tells whether it is offline now.
bool firmwareOffline(SimCamera& camera, const Clock& clock);
// The camera restarts now (restart command): offline for restartMs.
void firmwareRestart(SimCamera& camera, const Clock& clock);
// The firmup.cgi and discon3.cgi pages during an update; false when no update is running (the
// ordinary pages apply).
bool firmwarePage(SimCamera& camera, const Clock& clock, const CgiCall& call, CgiAnswer& answer);

// A multi-component image names its component after the family prefix ("RP2NET20100415.BIN"):
// the camera's version entry of that component and its dated text ("V1.00(20100415)"). False
// for a name without a component word.
bool componentFromFileName(std::string_view fileName, std::string& key, std::string& text);

// Uploads being received across all cameras of the simulator, and the most at once (shown as
// "peak_uploads" on the camsim/firmware page).
struct UploadGauge {
    std::atomic<int> active{0};
    std::atomic<int> peak{0};
};
UploadGauge& uploadGauge();

// The version number in an image's file name (path and extension dropped), or "".
std::string versionFromFileName(std::string_view fileName);
// The Content-Length that a well-formed upload of `imageSize` bytes has.
std::uint64_t expectedUploadLength(std::string_view boundary, std::string_view fileName,
                                   std::uint64_t imageSize);

// Closes the connection of `req` without an answer (both directions shut down).
void dropConnection(const httplib::Request& req);
// The socket of `req`'s connection, -1 when it is not found.
int connectionSocket(const httplib::Request& req);

// Runs one upload POST for the camera at `index` (already authenticated). Fills the reply or
// drops the connection; `event` tells what happened ("firmup", "firmup-refused", ...).
void serveFirmwareUpload(Fleet& fleet, std::size_t index, const Clock& clock,
                         const httplib::Request& req, httplib::Response& res,
                         const httplib::ContentReader& reader, std::string& event, int& status);

}  // namespace lanrove::camsim
