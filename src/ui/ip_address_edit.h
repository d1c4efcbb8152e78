#pragma once
// An IPv4 address field for the setting dialogs: one line edit that takes only what can grow
// into a dotted address (digits and dots, at most four fields of up to three digits, each at
// most 255). A blank field reads as "" and as the address 0; so does an unfinished one, so a
// check on every change never acts on half an address.

#include <QLineEdit>
#include <QValidator>
#include <cstdint>
#include <string>

namespace lanrove::ui {

class IpAddressValidator final : public QValidator {
    Q_OBJECT
  public:
    using QValidator::QValidator;
    State validate(QString& input, int& pos) const override;
};

class IpAddressEdit final : public QLineEdit {
    Q_OBJECT
  public:
    explicit IpAddressEdit(QWidget* parent = nullptr);

    // The text as entered ("" when blank).
    std::u16string addressText() const;
    // The entered address in host order; 0 when blank or not yet four complete fields.
    std::uint32_t address() const;
    // Shows `address` dotted; 0 shows a blank field.
    void setAddress(std::uint32_t address);
    void setAddressText(std::u16string_view text);

  signals:
    // Every change of the contents, by the user or by the program.
    void addressChanged();
};

}  // namespace lanrove::ui
