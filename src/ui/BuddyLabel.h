#pragma once
// A field's caption that carries its mnemonic: Alt+letter focuses the field.
#include <QHBoxLayout>
#include <QLabel>

inline QLabel *BuddyLabel(const QString &text, QWidget *buddy)
{
    auto *caption = new QLabel(text);
    caption->setBuddy(buddy);
    return caption;
}

// A box with its caption in front of it. On Linux a screen reader names a combo box by the
// label that points at it (Qt gives the box itself its value as name), so the caption's
// accessible name is the box's full name.
inline QHBoxLayout *CaptionedRow(const QString &caption, QWidget *box)
{
    auto *row = new QHBoxLayout;
    QLabel *label = BuddyLabel(caption, box);
    label->setAccessibleName(box->accessibleName());
    row->addWidget(label);
    row->addWidget(box, 1);
    return row;
}
