#pragma once
// After a transfer, delete or rename the list that started it has the focus again, with the
// lines that were selected and are still there selected again, so a keyboard user goes on
// where they were: a batch switches the window off, which sends the focus elsewhere, and a
// listing read again loses the selection.
#include <QPointer>
#include <QStringList>

class QListWidget;

class TListFocus {
public:
    explicit TListFocus(QListWidget *list); // remembers the selected lines and the current row
    ~TListFocus();                          // restores them and gives the list the focus
    TListFocus(const TListFocus &) = delete;
    TListFocus &operator=(const TListFocus &) = delete;

private:
    QPointer<QListWidget> list_;            // gone with the window: nothing to restore
    QStringList selected_;                  // texts of the selected lines
    int currentRow_ = -1;                   // the current line before the operation
};
