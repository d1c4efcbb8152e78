#include "ui/message_layer.h"

#include <QFile>
#include <QMessageBox>

namespace lanrove::ui {

const char* boxIconName(BoxIcon icon) {
    switch (icon) {
        case BoxIcon::Information:
            return "information";
        case BoxIcon::Warning:
            return "warning";
        case BoxIcon::Error:
            return "error";
        case BoxIcon::Question:
            return "question";
        case BoxIcon::NoIcon:
            return "none";
    }
    return "?";
}

QString boxRecordLine(const BoxRecord& box) {
    QString text = box.text;
    text.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    text.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    text.replace(QLatin1Char('\t'), QLatin1String("\\t"));
    QString title = box.title;
    title.replace(QLatin1Char('\t'), QLatin1Char(' '));
    return QString::fromLatin1(boxIconName(box.icon)) + QLatin1Char('\t') + title +
           QLatin1Char('\t') + text;
}

BoxAnswer QtMessageLayer::show(QWidget* parent, BoxIcon icon, const QString& title,
                               const QString& text, BoxButtons buttons) {
    QMessageBox::Icon qicon = QMessageBox::Information;
    switch (icon) {
        case BoxIcon::Information:
            qicon = QMessageBox::Information;
            break;
        case BoxIcon::Warning:
            qicon = QMessageBox::Warning;
            break;
        case BoxIcon::Error:
            qicon = QMessageBox::Critical;
            break;
        case BoxIcon::Question:
            qicon = QMessageBox::Question;
            break;
        case BoxIcon::NoIcon:
            qicon = QMessageBox::NoIcon;
            break;
    }
    QMessageBox::StandardButtons set = QMessageBox::Ok;
    if (buttons == BoxButtons::OkCancel) set = QMessageBox::Ok | QMessageBox::Cancel;
    if (buttons == BoxButtons::YesNo || buttons == BoxButtons::YesNoDefaultNo)
        set = QMessageBox::Yes | QMessageBox::No;
    if (buttons == BoxButtons::OkOpen) set = QMessageBox::Ok | QMessageBox::Open;
    QMessageBox box(qicon, title, text, set, parent);
    if (buttons == BoxButtons::YesNoDefaultNo) box.setDefaultButton(QMessageBox::No);
    switch (box.exec()) {
        case QMessageBox::Cancel:
            return BoxAnswer::Cancel;
        case QMessageBox::Yes:
            return BoxAnswer::Yes;
        case QMessageBox::No:
            return BoxAnswer::No;
        case QMessageBox::Open:
            return BoxAnswer::Open;
        default:
            return BoxAnswer::Ok;
    }
}

void AnsweringMessageLayer::queueAnswer(BoxAnswer answer) {
    std::lock_guard lock(m_mutex);
    m_answers.push_back(answer);
}

BoxAnswer AnsweringMessageLayer::show(QWidget*, BoxIcon icon, const QString& title,
                                      const QString& text, BoxButtons buttons) {
    std::lock_guard lock(m_mutex);
    BoxRecord record{icon, title, text};
    m_boxes.push_back(record);
    if (!m_strFile.empty()) {
        QFile file(QString::fromStdString(m_strFile));
        if (file.open(QIODevice::Append | QIODevice::Text)) {
            file.write(boxRecordLine(record).toUtf8());
            file.write("\n");
        }
    }
    if (!m_answers.empty()) {
        const BoxAnswer answer = m_answers.front();
        m_answers.pop_front();
        return answer;
    }
    const bool positive = m_questions == QuestionAnswer::Positive;
    switch (buttons) {
        case BoxButtons::YesNo:
        case BoxButtons::YesNoDefaultNo:
            return positive ? BoxAnswer::Yes : BoxAnswer::No;
        case BoxButtons::OkCancel:
            return positive ? BoxAnswer::Ok : BoxAnswer::Cancel;
        case BoxButtons::Ok:
        case BoxButtons::OkOpen:
            break;
    }
    return BoxAnswer::Ok;
}

std::vector<BoxRecord> AnsweringMessageLayer::boxes() const {
    std::lock_guard lock(m_mutex);
    return m_boxes;
}

void AnsweringMessageLayer::clear() {
    std::lock_guard lock(m_mutex);
    m_boxes.clear();
    m_answers.clear();
}

}  // namespace lanrove::ui
