#pragma once
// The window's question when a camera's HTTPS certificate is no longer the pinned one: it names
// the camera and both fingerprints and offers to trust the new certificate (No is the default,
// as an impostor looks just like a reset camera).

#include <QString>
#include <string>

#include "cgi/camera_trust.h"
#include "support/trace_log.h"
#include "ui/message_layer.h"

class QWidget;

namespace lanrove::ui {

struct CertificateQuestionTexts {
    QString title;
    QString message;  // %1 the camera's MAC, %2 the pinned, %3 the offered fingerprint
};

// When the last contact with the camera `mac` was refused for another certificate, asks; on
// Yes the offered certificate is pinned. True when the caller should try again. The answer is
// written as an event line.
bool askTrustNewCertificate(QWidget* parent, MessageLayer& messages, CameraTrust& trust,
                            TraceLog& log, const CertificateQuestionTexts& texts,
                            const std::string& mac);

}  // namespace lanrove::ui
