#pragma once
// Standard Base64 with "=" padding: the credentials of the IP-setting datagram and of the
// HTTP Basic authentication.

#include <string>
#include <string_view>

namespace lanrove {

std::string base64Encode(std::string_view bytes);
// Strict decode: length a multiple of four, padding only at the end. False (and `out` empty)
// on anything else.
bool base64Decode(std::string_view text, std::string& out);

}  // namespace lanrove
