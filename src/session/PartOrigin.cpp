#include "session/PartOrigin.h"

#include <QByteArray>
#include <QList>

namespace {

constexpr std::string_view kHeader = "zarvel part origin 1";

QByteArray Encoded(std::string_view field)
{
    return QByteArray::fromRawData(field.data(), qsizetype(field.size())).toPercentEncoding();
}

std::string Decoded(const QByteArray &field)
{
    return QByteArray::fromPercentEncoding(field).toStdString();
}

} // namespace

std::string PartOriginText(const TPartOrigin &origin)
{
    QByteArray text(kHeader.data(), qsizetype(kHeader.size()));
    for (const QByteArray &field : {Encoded(origin.Host), Encoded(origin.Port), Encoded(origin.Subvol),
                                    Encoded(origin.Name), QByteArray::number(origin.Size), Encoded(origin.Modified)})
        text += '\n' + field;
    return text.toStdString() + '\n';
}

std::optional<TPartOrigin> ParsePartOrigin(std::string_view text)
{
    const QList<QByteArray> lines = QByteArray(text.data(), qsizetype(text.size())).split('\n');
    // The header, six fields, and the empty rest after the last line end.
    if (lines.size() != 8 || lines[0] != kHeader.data() || !lines[7].isEmpty())
        return std::nullopt;
    bool number = false;
    const qint64 size = lines[5].toLongLong(&number);
    if (!number)
        return std::nullopt;
    return TPartOrigin{Decoded(lines[1]), Decoded(lines[2]), Decoded(lines[3]), Decoded(lines[4]), size,
                       Decoded(lines[6])};
}
