#include "ui/certificate_question.h"

#include <optional>

namespace lanrove::ui {

bool askTrustNewCertificate(QWidget* parent, MessageLayer& messages, CameraTrust& trust,
                            TraceLog& log, const CertificateQuestionTexts& texts,
                            const std::string& mac) {
    const std::optional<CameraPin> pin = trust.pin(mac);
    // Only a refusal for another certificate is asked about; other failures are not.
    if (!pin || pin->offered.empty() || pin->offered == pin->fingerprint) return false;
    const QString text = texts.message.arg(QString::fromStdString(pin->mac),
                                           QString::fromStdString(pin->fingerprint),
                                           QString::fromStdString(pin->offered));
    const BoxAnswer answer =
        messages.show(parent, BoxIcon::Warning, texts.title, text, BoxButtons::YesNoDefaultNo);
    if (answer != BoxAnswer::Yes) {
        log.event("The camera's new HTTPS certificate was not trusted", "warn", pin->mac);
        return false;
    }
    if (!trust.accept(pin->mac)) {
        log.event("The camera's new HTTPS certificate could not be stored: " + trust.lastError(),
                  "err", pin->mac);
        return false;
    }
    log.event("The camera's new HTTPS certificate is trusted: SHA-256 " + pin->offered, "warn",
              pin->mac);
    return true;
}

}  // namespace lanrove::ui
