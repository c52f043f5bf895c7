#pragma once
// What the preview tools share: tools that save pictures of the window's
// parts for looking at by eye, not tests. Their command line is
//   <tool> OUTDIR [PRESET]
#include <QCoreApplication>
#include <QDir>
#include <QPushButton>
#include <QThread>

#include "TestSupport.h"
#include "ThemeManager.h"

namespace PreviewSupport {

// Runs the event loop for rounds of 10 ms, so that scans, timers and
// animations move on before a picture is taken.
inline void settle(int rounds)
{
    for (int i = 0; i < rounds; ++i) {
        QCoreApplication::processEvents();
        QThread::msleep(10);
    }
}

// Reads OUTDIR and PRESET ("dark" when not given), makes OUTDIR, gives the
// tool settings of its own and applies the preset with its style sheet.
// False without OUTDIR.
inline bool start(int argc, char** argv, QString* out, QString* preset)
{
    if (argc < 2)
        return false;
    *out = QString::fromLocal8Bit(argv[1]);
    *preset = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("dark");
    QDir().mkpath(*out);
    TestSupport::isolateSettings();
    ThemeManager::instance()->applyPresetByName(*preset);
    ThemeManager::instance()->applyStylesheetSafely();
    return true;
}

// The first push button below root that reads text; null without one.
inline QPushButton* buttonWithText(QWidget* root, const QString& text)
{
    for (QPushButton* b : root->findChildren<QPushButton*>())
        if (b->text() == text)
            return b;
    return nullptr;
}

} // namespace PreviewSupport
