#pragma once
// Failed expectations on Qt texts print the text (and a QStringList its texts), not the
// bytes of each character.
#include <QRect>
#include <QString>
#include <ostream>

inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

inline void PrintTo(const QRect &rect, std::ostream *out)
{
    *out << rect.width() << 'x' << rect.height() << '+' << rect.left() << '+' << rect.top();
}
