#pragma once
// The message and sound seams of the windows, recording what would have been shown or
// played instead of blocking in a modal box or ringing a bell.
#include "session/SessionViews.h"
#include "ui/UserMessages.h"

#include <QStringList>

class RecordedMessages : public TUserMessages {
public:
    QStringList shown; // "kind: text", in the order shown
    void Simple(QWidget *, const QString &text) override { shown << "simple: " + text; }
    void ErrorDialog(QWidget *, const QString &text) override { shown << "error: " + text; }
    void CommandLineError(QWidget *, const QString &text) override { shown << "command line: " + text; }
    void Warning(QWidget *, const QString &text) override { shown << "warning: " + text; }
    void ShowException(QWidget *, const QString &text) override { shown << "exception: " + text; }
};

class RecordedSounds : public TSounds {
public:
    QStringList played; // "default" or "exclamation", in the order played
    void DefaultSound() override { played << "default"; }
    void ExclamationSound() override { played << "exclamation"; }
};
