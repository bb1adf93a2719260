#pragma once
#include <string>
#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

// The one-line prompt: a question, an optional input field, OK and Cancel. Made for one
// question and destroyed after it.
class TFormPrompt : public QDialog {
    Q_OBJECT
public:
    // With `value`, the input field shows it and OK copies the typed text back into it;
    // without one the field is hidden and the dialog asks a yes-or-no question.
    TFormPrompt(QWidget *owner, const QString &prompt, QString *value);

    // Copies the input field into the caller's value (when there is one) and closes with OK.
    void OKBtnClick();

    QLabel *LabelPrompt;     // the prompt text, top left
    QLineEdit *EditInput;    // the value, 281 pixels wide; hidden without a value
    QPushButton *OKBtn;      // "OK", the default button (Enter)
    QPushButton *CancelBtn;  // "Cancel" (Esc)

    static constexpr int kClientWidth = 313;
    static constexpr int kInputWidth = 281;

protected:
    void showEvent(QShowEvent *event) override;

private:
    QString *Value;          // the caller's value; null for a yes-or-no question
};

// The bytes that the user's answer stands for. A text left as shown gives back the bytes
// it was shown from, so a name that is not UTF-8 survives an unchanged OK; typed text is
// taken as UTF-8.
std::string AnswerBytes(const std::string &shownFrom, const QString &answer);
