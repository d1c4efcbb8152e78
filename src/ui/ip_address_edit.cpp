#include "ui/ip_address_edit.h"

#include "discovery/ipv4_address.h"

namespace lanrove::ui {

namespace {
constexpr int kMaxAddressLength = 15;  // "255.255.255.255"
}

QValidator::State IpAddressValidator::validate(QString& input, int&) const {
    if (input.isEmpty()) return Intermediate;
    if (input.size() > kMaxAddressLength || input.front() == QLatin1Char('.')) return Invalid;
    int fields = 1;
    int digits = 0;
    int value = 0;
    for (const QChar c : input) {
        if (c == QLatin1Char('.')) {
            // No empty field between two dots, and at most four fields.
            if (digits == 0 || ++fields > 4) return Invalid;
            digits = 0;
            value = 0;
            continue;
        }
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) return Invalid;
        if (++digits > 3) return Invalid;
        value = value * 10 + (c.unicode() - u'0');
        if (value > 255) return Invalid;
    }
    return fields == 4 && digits > 0 ? Acceptable : Intermediate;
}

IpAddressEdit::IpAddressEdit(QWidget* parent) : QLineEdit(parent) {
    setMaxLength(kMaxAddressLength);
    setValidator(new IpAddressValidator(this));
    setInputMethodHints(Qt::ImhPreferNumbers);
    connect(this, &QLineEdit::textChanged, this, &IpAddressEdit::addressChanged);
}

std::u16string IpAddressEdit::addressText() const {
    return text().trimmed().toStdU16String();
}

std::uint32_t IpAddressEdit::address() const {
    return ipv4::parse(std::u16string_view(addressText())).value_or(0);
}

void IpAddressEdit::setAddress(std::uint32_t address) {
    if (address == 0) {
        setText(QString());
        return;
    }
    setText(QString::fromStdU16String(ipv4::toText16(address)));
}

void IpAddressEdit::setAddressText(std::u16string_view text) {
    setText(QString::fromStdU16String(std::u16string(text)));
}

}  // namespace lanrove::ui
