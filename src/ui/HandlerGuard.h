#pragma once
#include "ui/UserMessages.h"

#include <exception>
#include <utility>

// Runs a window handler so that an exception it raises is shown in the application's
// error box and never leaves through the Qt event loop (which cannot carry it).
template <typename Handler>
void RunGuarded(TUserMessages &messages, QWidget *parent, Handler &&handler) noexcept
{
    try {
        std::forward<Handler>(handler)();
    } catch (const std::exception &e) {
        messages.ShowException(parent, TextForDisplay(e.what()));
    } catch (...) {
        messages.ShowException(parent, QStringLiteral("Unknown error"));
    }
}
