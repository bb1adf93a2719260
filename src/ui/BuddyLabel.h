#pragma once
// A field's caption that carries its mnemonic: Alt+letter focuses the field.
#include <QLabel>

inline QLabel *BuddyLabel(const QString &text, QWidget *buddy)
{
    auto *caption = new QLabel(text);
    caption->setBuddy(buddy);
    return caption;
}
