#pragma once
// Failed expectations on Qt texts print the text (and a QStringList its texts), not the
// bytes of each character.
#include <QString>
#include <ostream>

inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}
