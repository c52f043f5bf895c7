#pragma once
// What toasts a test made: every toast shown or waiting since the last call,
// oldest first. Each card is taken off at once, so the next call starts from
// nothing. Header-only: suites that use it link the toast manager already.
#include <QLabel>
#include <QStringList>

#include "ToastManager.h"

namespace TestSupport {

inline QStringList takeToasts()
{
    QStringList texts;
    ToastManager* tm = ToastManager::instance();
    tm->pump();
    while (ToastWidget* card = tm->current()) {
        if (card->textLabel())
            texts << card->property("toastMsg").toString();   // the text asked for
        delete card;
        tm->pump();
    }
    return texts;
}

} // namespace TestSupport
