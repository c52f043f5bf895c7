// Pictures of the settings dialog by eye: settings_preview PRESET PAGE OUT.png
// [pending] [popup] [bottom] [midi]. "pending" clicks a preset card first, so "Apply Theme"
// pulses; "bottom" scrolls the page to its end; "popup" opens the output list and grabs the whole screen.
#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>

#include "FakeMidiBackend.h"
#include "MidiManager.h"
#include "SessionManager.h"
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

    // "midi": two devices (the second open), button and tab assignments.
    FakeMidiBackend fake;
    MidiManager::setInstanceBackend(&fake);
    MidiManager& midi = *MidiManager::instance();
    if (extra.contains(QStringLiteral("midi"))) {
        fake.addInput(QStringLiteral("Akai APC Mini"));
        fake.addInput(QStringLiteral("Novation Launchpad X"));
        midi.openInput(QStringLiteral("Novation Launchpad X"));
        Session s;
        s.tabs.resize(3);
        s.tabs[0].stopKey = QStringLiteral("F5");
        s.tabs[0].stopMidi = 36;
        s.tabs[2].volCC = 7;
        const char* names[] = {"Station ID", "News Bed", "Applause"};
        for (int i = 0; i < 3; ++i) {
            ButtonData b;
            b.id = QStringLiteral("b%1").arg(i);
            b.name = QString::fromLatin1(names[i]);
            s.tabs[0].buttons << b;
            MidiMapping m;
            m.channel = 1;
            m.number = 48 + i;
            m.buttonId = b.id;
            midi.addMapping(m);
        }
        SessionManager::instance()->session() = s;
    }
    SettingsDialog d;
    d.showPage(SettingsDialog::Page(page));
    d.move(20, 20);
    d.show();
    if (extra.contains(QStringLiteral("midi")))
        emit midi.noteReceived(10, 60, 100);
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
