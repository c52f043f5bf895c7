// Pictures of the settings dialog by eye: settings_preview PRESET PAGE OUT.png
// [pending] [popup] [bottom]. "pending" clicks a preset card first, so "Apply Theme"
// pulses; "bottom" scrolls the page to its end; "popup" opens the output list and grabs the whole screen.
#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>

#include "SettingsDialog.h"
#include "ThemeManager.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc < 4)
        return 2;
    ThemeManager::instance()->applyPresetByName(QString::fromLatin1(argv[1]));
    app.setStyleSheet(ThemeManager::instance()->styleSheet());
    const int page = QString::fromLatin1(argv[2]).toInt();
    const QString out = QString::fromLocal8Bit(argv[3]);
    const QStringList extra = app.arguments().mid(4);

    SettingsDialog d;
    d.showPage(SettingsDialog::Page(page));
    d.move(20, 20);
    d.show();
    if (extra.contains(QStringLiteral("pending"))) {
        const QList<QPushButton*> cards = d.findChildren<QPushButton*>(QStringLiteral("presetCard"));
        if (cards.size() > 5)
            cards[5]->click();
    }
    QTimer::singleShot(600, [&] {
        if (extra.contains(QStringLiteral("bottom")))
            for (QScrollArea* a : d.findChildren<QScrollArea*>())
                if (a->isVisible())
                    a->verticalScrollBar()->setValue(a->verticalScrollBar()->maximum());
        if (extra.contains(QStringLiteral("popup"))) {
            for (QComboBox* c : d.findChildren<QComboBox*>())
                if (c->findText(QStringLiteral("Default Output")) >= 0)
                    c->showPopup();
            QTimer::singleShot(400, [&] {
                QGuiApplication::primaryScreen()->grabWindow(0).save(out);
                app.quit();
            });
            return;
        }
        d.grab().save(out);
        app.quit();
    });
    return app.exec();
}
