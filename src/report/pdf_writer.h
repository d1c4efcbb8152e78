#pragma once
// Renders report HTML to a PDF file (QTextDocument + QPdfWriter). Pictures are passed as
// named JPEG resources. Without a running Qt application one is made on the offscreen
// platform, so no display is needed; call from the main thread.

#include <string>
#include <utility>
#include <vector>

namespace lanrove {

struct PdfPicture {
    std::string name;  // the <img src> it answers
    std::string jpeg;  // the picture's bytes
};

// A report thumbnail of a camera's picture: at most 320 pixels wide, JPEG. Empty when the
// picture cannot be decoded (or is larger than Qt's image allocation limit).
std::string shrinkPicture(const std::string& jpeg);

// False with `error` set when the file could not be written.
bool writeReportPdf(const std::string& html, const std::vector<PdfPicture>& pictures,
                    const std::string& path, std::string& error);

}  // namespace lanrove
