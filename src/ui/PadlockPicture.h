#pragma once
// The status bar's lock, drawn here: the padlock character is missing from many desktop
// fonts and then shows as an empty box.
#include <QPixmap>

class QWidget;

// A closed padlock the height of the widget's text, in its text colour, sharp on the widget's
// screen.
QPixmap PadlockPicture(const QWidget &widget);
