#pragma once
// Where the windows were when the program last ended, kept in the settings store so the next
// run opens them there: the size and position of a window in its normal state, whether it
// was maximized, and how the main window's splitter divided its width.
#include "session/SettingsStore.h"

#include <QList>
#include <QRect>
#include <optional>
#include <string>
#include <string_view>

struct TWindowPlacement {
    QRect Normal;           // position and size of the window's contents when not maximized
    bool Maximized = false;
};

// "left top width height maximized", as stored; nullopt for text that is not that (or an
// empty size).
std::string PlacementText(const TWindowPlacement &placement);
std::optional<TWindowPlacement> ParsePlacement(std::string_view text);

// The rectangle moved (and cut) to lie on the screen that holds its top edge's middle, so its
// title bar can be reached; on none of them (a screen that is gone), centred on the first.
QRect FitOnScreens(const QRect &wanted, const QList<QRect> &screens);

// The stored placement of the window named `window` ("MainWindow", "LogWindow"); nullopt
// without a store or a readable value. Storing writes the text value of that name.
std::optional<TWindowPlacement> LoadPlacement(TSettingsStore *store, const std::string &window);
void StorePlacement(TSettingsStore *store, const std::string &window, const TWindowPlacement &placement);

// The widths the splitter gives the two sides ("pc tandem"); nullopt when none are stored.
std::optional<std::pair<int, int>> LoadSplit(TSettingsStore *store);
void StoreSplit(TSettingsStore *store, std::pair<int, int> widths);
