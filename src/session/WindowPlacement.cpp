#include "session/WindowPlacement.h"

#include <QString>
#include <QStringList>
#include <algorithm>
#include <sstream>

namespace {

constexpr const char *kSplitValue = "SplitWidths";

// The whole numbers of the text, or nothing when it holds anything else or a different count.
std::optional<QList<int>> Numbers(std::string_view text, qsizetype count)
{
    const QStringList words = QString::fromUtf8(text.data(), qsizetype(text.size())).split(' ', Qt::SkipEmptyParts);
    if (words.size() != count)
        return std::nullopt;
    QList<int> numbers;
    for (const QString &word : words) {
        bool ok = false;
        numbers << word.toInt(&ok);
        if (!ok)
            return std::nullopt;
    }
    return numbers;
}

// A value the program wrote itself; one of another type or unreadable counts as none.
std::string ReadOwnText(TSettingsStore *store, const std::string &name)
{
    try {
        return store ? store->ReadString(name) : std::string();
    } catch (const ESettingsStoreError &) {
        return {};
    }
}

// Where the windows were is not worth a message at exit: a failed write keeps the old place.
void WriteOwnText(TSettingsStore *store, const std::string &name, const std::string &value)
{
    try {
        if (store)
            store->WriteString(name, value);
    } catch (const ESettingsStoreError &) {
    }
}

} // namespace

std::string PlacementText(const TWindowPlacement &placement)
{
    const QRect &r = placement.Normal;
    std::ostringstream text;
    text << r.left() << ' ' << r.top() << ' ' << r.width() << ' ' << r.height() << ' ' << (placement.Maximized ? 1 : 0);
    return text.str();
}

std::optional<TWindowPlacement> ParsePlacement(std::string_view text)
{
    const auto numbers = Numbers(text, 5);
    if (!numbers || (*numbers)[2] <= 0 || (*numbers)[3] <= 0 || (*numbers)[4] < 0 || (*numbers)[4] > 1)
        return std::nullopt;
    return TWindowPlacement{QRect((*numbers)[0], (*numbers)[1], (*numbers)[2], (*numbers)[3]), (*numbers)[4] == 1};
}

QRect FitOnScreens(const QRect &wanted, const QList<QRect> &screens)
{
    if (screens.isEmpty())
        return wanted;
    const QPoint titleMiddle(wanted.center().x(), wanted.top());
    QRect screen = screens.first();
    bool onScreen = false;
    for (const QRect &candidate : screens)
        if (candidate.contains(titleMiddle)) {
            screen = candidate;
            onScreen = true;
            break;
        }
    QRect fitted(wanted.topLeft(), wanted.size().boundedTo(screen.size()));
    if (!onScreen)
        fitted.moveCenter(screen.center());
    // Pulled back within the screen on every side.
    fitted.moveLeft(std::clamp(fitted.left(), screen.left(), screen.right() - fitted.width() + 1));
    fitted.moveTop(std::clamp(fitted.top(), screen.top(), screen.bottom() - fitted.height() + 1));
    return fitted;
}

std::optional<TWindowPlacement> LoadPlacement(TSettingsStore *store, const std::string &window)
{
    return ParsePlacement(ReadOwnText(store, window));
}

void StorePlacement(TSettingsStore *store, const std::string &window, const TWindowPlacement &placement)
{
    WriteOwnText(store, window, PlacementText(placement));
}

std::optional<std::pair<int, int>> LoadSplit(TSettingsStore *store)
{
    const auto numbers = Numbers(ReadOwnText(store, kSplitValue), 2);
    if (!numbers || (*numbers)[0] <= 0 || (*numbers)[1] <= 0)
        return std::nullopt;
    return std::pair((*numbers)[0], (*numbers)[1]);
}

void StoreSplit(TSettingsStore *store, std::pair<int, int> widths)
{
    WriteOwnText(store, kSplitValue, std::to_string(widths.first) + ' ' + std::to_string(widths.second));
}
