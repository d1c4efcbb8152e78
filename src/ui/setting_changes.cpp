#include "ui/setting_changes.h"

#include <string>

#include "runs/address_plan.h"

namespace lanrove::ui {

namespace {

QString field(std::u16string_view value) {
    return value.empty() ? QStringLiteral("-") : QString::fromStdU16String(std::u16string(value));
}

}  // namespace

QStringList settingChanges(const LangTable& texts, const CameraEntry& before,
                           const CameraEntry& after) {
    auto label = [&texts](const char16_t* key) {
        return QString::fromStdU16String(texts.lookup(u"CUSTOM_SETTING_WINDOW", key));
    };
    auto ssl = [&](const CameraEntry& e) {
        return label(fieldView(e.szSsl) == u"1" ? u"CUSTOM_SETTING_ON" : u"CUSTOM_SETTING_OFF");
    };
    QStringList out;
    const QString arrow = QStringLiteral(" \u2192 ");
    for (const std::string& name : plannedChanges(before, after)) {
        if (name == "ip")
            out << label(u"CUSTOM_SETTING_IP_ADDRESS") + QStringLiteral(": ") +
                       field(fieldView(before.szIp)) + arrow + field(fieldView(after.szIp));
        else if (name == "mask")
            out << label(u"CUSTOM_SETTING_SUBNET_MASK") + QStringLiteral(": ") +
                       field(fieldView(before.szMask)) + arrow + field(fieldView(after.szMask));
        else if (name == "gateway")
            out << label(u"CUSTOM_SETTING_GATEWAY") + QStringLiteral(": ") +
                       field(fieldView(before.szGateway)) + arrow +
                       field(fieldView(after.szGateway));
        else if (name == "port")
            out << label(u"CUSTOM_SETTING_PORT") + QStringLiteral(": ") +
                       field(fieldView(before.szPort)) + arrow + field(fieldView(after.szPort));
        else if (name == "ssl")
            out << label(u"CUSTOM_SETTING_SSL") + QStringLiteral(": ") + ssl(before) + arrow +
                       ssl(after);
        else if (name == "title")
            out << label(u"CUSTOM_SETTING_CAMERA_TITLE") + QStringLiteral(": ") +
                       field(fieldView(before.szTitle)) + arrow + field(fieldView(after.szTitle));
    }
    return out;
}

}  // namespace lanrove::ui
