#pragma once
#include "ui/UserMessages.h"

#include <QStringList>

// Records the boxes instead of showing them, each as "<kind>: <text>".
class RecordedMessages : public TUserMessages {
public:
    QStringList shown;
    void Simple(QWidget *, const QString &text) override { shown << "simple: " + text; }
    void ErrorDialog(QWidget *, const QString &text) override { shown << "error: " + text; }
    void CommandLineError(QWidget *, const QString &text) override { shown << "command line: " + text; }
    void Warning(QWidget *, const QString &text) override { shown << "warning: " + text; }
};
