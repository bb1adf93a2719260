#pragma once
// The message and sound seams of the windows, recording what would have been shown or
// played instead of blocking in a modal box or ringing a bell.
#include "session/SessionViews.h"
#include "support/QtPrinters.h"
#include "ui/UserMessages.h"

#include <gtest/gtest.h>
#include <QStringList>
#include <deque>
#include <vector>
#include <optional>

class RecordedMessages : public TUserMessages {
public:
    QStringList shown; // "kind: text", in the order shown
    void Simple(QWidget *, const QString &text) override { shown << "simple: " + text; }
    void ErrorDialog(QWidget *, const QString &text) override { shown << "error: " + text; }
    void CommandLineError(QWidget *, const QString &text) override { shown << "command line: " + text; }
    void Warning(QWidget *, const QString &text) override { shown << "warning: " + text; }
    void ShowException(QWidget *, const QString &text) override { shown << "exception: " + text; }

    // The user's answers to prompts, in order: a text is typed and OK pressed (the text is
    // ignored by a question without input field); nullopt presses Cancel. A prompt with no
    // answer left fails the test and is cancelled. Prompts are recorded in `shown` as
    // "prompt: caption | prompt" and " | value" when there is a field.
    std::deque<std::optional<QString>> answers;
    bool Prompt(QWidget *, const QString &caption, const QString &prompt, QString *value) override
    {
        shown << "prompt: " + caption + " | " + prompt + (value ? " | " + *value : QString());
        if (answers.empty()) {
            ADD_FAILURE() << "nobody answers " << prompt.toStdString();
            return false;
        }
        const std::optional<QString> answer = answers.front();
        answers.pop_front();
        if (answer && value)
            *value = *answer;
        return answer.has_value();
    }
    // Yes/No questions take the next answer too: a text is Yes, nullopt No. Recorded as
    // "confirm: caption | text".
    bool Confirm(QWidget *, const QString &caption, const QString &text) override
    {
        shown << "confirm: " + caption + " | " + text;
        if (answers.empty()) {
            ADD_FAILURE() << "nobody answers " << text.toStdString();
            return false;
        }
        const bool yes = answers.front().has_value();
        answers.pop_front();
        return yes;
    }
    // The failed files of a batch, recorded as "failures: caption | summary | line; line".
    void ShowFailures(QWidget *, const QString &caption, const QString &summary, const QStringList &failures) override
    {
        shown << "failures: " + caption + " | " + summary + " | " + failures.join("; ");
    }
    // The file-exists question, answered from `existsReplies` and recorded in `shown` as
    // "exists: text | resume offered | rename to NAME".
    std::deque<FileExistsReply> existsReplies;
    FileExistsReply AskFileExists(QWidget *, const FileExistsQuestion &question) override
    {
        shown << "exists: " + QString::fromStdString(question.Text) + (question.CanResume ? " | resume offered" : "") +
                     " | rename to " + QString::fromStdString(question.FreeName);
        if (existsReplies.empty()) {
            ADD_FAILURE() << "nobody answers " << question.Text;
            return {};
        }
        const FileExistsReply reply = existsReplies.front();
        existsReplies.pop_front();
        return reply;
    }

    // The answers to the question before a login in clear, in order; recorded in `shown` as
    // "plain: host". None left fails the test and answers No.
    std::deque<TPlainAnswer> plainAnswers;
    TPlainAnswer AskPlainLogin(QWidget *, const QString &host) override
    {
        shown << "plain: " + host;
        if (plainAnswers.empty()) {
            ADD_FAILURE() << "nobody answers the plain-login question for " << host.toStdString();
            return plainNo;
        }
        const TPlainAnswer answer = plainAnswers.front();
        plainAnswers.pop_front();
        return answer;
    }

    // A question with buttons takes the next answer as the caption of the button pressed
    // (nullopt closes the box); recorded as "choose: text | button / button ...".
    int Choose(QWidget *, const QString &text, const QStringList &buttons) override
    {
        shown << "choose: " + text + " | " + buttons.join(" / ");
        if (answers.empty()) {
            ADD_FAILURE() << "nobody answers " << text.toStdString();
            return -1;
        }
        const std::optional<QString> answer = answers.front();
        answers.pop_front();
        return answer ? int(buttons.indexOf(*answer)) : -1;
    }
};

class RecordedSounds : public TSounds {
public:
    QStringList played; // "default" or "exclamation", in the order played
    void DefaultSound() override { played << "default"; }
    void ExclamationSound() override { played << "exclamation"; }
};
