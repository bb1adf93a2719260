#include "ui/SystemSounds.h"

#include <QApplication>

void TSystemSounds::DefaultSound()
{
    QApplication::beep();
}

void TSystemSounds::ExclamationSound()
{
    QApplication::beep();
}
