#pragma once
// Every message box of the desktop program goes through this layer, so that tests and scripted
// runs can answer boxes in advance instead of blocking on a modal window.

#include <QString>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

class QWidget;

namespace lanrove::ui {

enum class BoxIcon { Information, Warning, Error, Question, NoIcon };
// YesNoDefaultNo: the destructive questions, where Enter answers No.
// OkOpen: a saved file's confirmation, whose Open shows the file.
enum class BoxButtons { Ok, OkCancel, YesNo, YesNoDefaultNo, OkOpen };
enum class BoxAnswer { Ok, Cancel, Yes, No, Open };

struct BoxRecord {
    BoxIcon icon;
    QString title;
    QString text;
};

const char* boxIconName(BoxIcon icon);

class MessageLayer {
  public:
    virtual ~MessageLayer() = default;
    // Shows a modal box and returns the button the user chose.
    virtual BoxAnswer show(QWidget* parent, BoxIcon icon, const QString& title, const QString& text,
                           BoxButtons buttons = BoxButtons::Ok) = 0;
};

// QMessageBox.
class QtMessageLayer final : public MessageLayer {
  public:
    BoxAnswer show(QWidget* parent, BoxIcon icon, const QString& title, const QString& text,
                   BoxButtons buttons) override;
};

// Which button an unattended question box gets.
enum class QuestionAnswer {
    Negative,  // No or Cancel: nothing destructive happens without a person
    Positive,  // Yes or Ok: only on an explicit request (the --yes option)
};

// Answers every box at once: with the next queued answer, else Ok for a box with one button
// and, for a Yes/No or Ok/Cancel box, the answer that `questions` names (the negative one
// unless told otherwise). Keeps a record of the boxes and, when given a file, appends one line
// per box: "<icon>\t<title>\t<text>" with line breaks written as "\n".
class AnsweringMessageLayer final : public MessageLayer {
  public:
    AnsweringMessageLayer() = default;
    explicit AnsweringMessageLayer(std::string recordFile,
                                   QuestionAnswer questions = QuestionAnswer::Negative)
        : m_strFile(std::move(recordFile)), m_questions(questions) {}

    void queueAnswer(BoxAnswer answer);
    BoxAnswer show(QWidget* parent, BoxIcon icon, const QString& title, const QString& text,
                   BoxButtons buttons) override;
    std::vector<BoxRecord> boxes() const;
    void clear();

  private:
    mutable std::mutex m_mutex;
    std::string m_strFile;
    QuestionAnswer m_questions = QuestionAnswer::Negative;
    std::deque<BoxAnswer> m_answers;
    std::vector<BoxRecord> m_boxes;
};

// One line of the record file for a box.
QString boxRecordLine(const BoxRecord& box);

}  // namespace lanrove::ui
