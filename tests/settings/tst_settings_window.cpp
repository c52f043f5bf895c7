// The main window's two ways into the settings: the menu entry's routine and
// Ctrl+",". Both run the same routine, so one toggle refreshes alike.
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QShortcut>
#include <QtTest>
#include <functional>

#include "AppSettings.h"
#include "AudioEngine.h"
#include "EventLog.h"
#include "GridHeader.h"
#include "MainWindow.h"
#include "MainWindowTestAccess.h"
#include "SessionManager.h"
#include "SettingsDialog.h"
#include "SettingsKeys.h"
#include "SettingsTestUtil.h"
#include "SoundButton.h"
#include "ThemeManager.h"
#include "ToastManager.h"
#include "TestSupport.h"

using A = MainWindowTestAccess;

namespace {

// The session's auto-save period in ms, 0 when it is off.
int autoSaveMs()
{
    for (QTimer* t : SessionManager::instance()->findChildren<QTimer*>())
        if (t->isActive())
            return t->interval();
    return 0;
}

SoundButton* buttonNamed(MainWindow& w, const QString& name)
{
    for (SoundButton* b : w.findChildren<SoundButton*>())
        if (b->buttonData().name == name && b->isVisible())
            return b;
    return nullptr;
}

// A menu entry as the card names it: without its key hint, mnemonic marks,
// leading signs ("🎹 ", "+ ") and the dots of an entry that asks.
QString entryName(QString text)
{
    text = text.section(QLatin1Char('\t'), 0, 0).remove(QLatin1Char('&')).trimmed();
    while (!text.isEmpty() && !text.at(0).isLetterOrNumber())
        text.remove(0, 1);
    for (const QString& dots : {QStringLiteral("…"), QStringLiteral("...")})
        if (text.endsWith(dots))
            text.chop(dots.size());
    return text.trimmed();
}

// The entries of the menu that opening brings up through the modal seam.
QStringList menuEntries(const std::function<void()>& opening)
{
    QStringList entries;
    TestSupport::ModalScript script([&](const Modal::Request& r) -> QVariant {
        if (r.kind == Modal::Kind::Menu)
            for (QAction* a : r.menu->actions())
                entries << entryName(a->text());
        return QVariant();
    });
    opening();
    return entries;
}

// Each "place → entry" of a text: the place and the entries after it, one
// chain per clause.
QList<QStringList> placeChains(QString html)
{
    html.replace(QStringLiteral("<br>"), QStringLiteral("\n"));
    html.remove(QRegularExpression(QStringLiteral("<[^>]*>")));
    QList<QStringList> chains;
    for (const QString& clause : html.split(QRegularExpression(QStringLiteral("[\n.,;:(]")))) {
        if (!clause.contains(QStringLiteral(" → ")))
            continue;
        QStringList parts = clause.split(QStringLiteral(" → "));
        for (QString& p : parts)
            p = p.trimmed();
        chains << parts;
    }
    return chains;
}

} // namespace

class TestSettingsWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { TestSupport::isolateSettings(); }

    void bothWaysInRefreshAlike_data()
    {
        QTest::addColumn<bool>("byKey");
        QTest::newRow("menu routine") << false;
        QTest::newRow("Ctrl+comma") << true;
    }

    void bothWaysInRefreshAlike()
    {
        QFETCH(bool, byKey);
        MainWindow w;
        auto* log = new EventLog(&w);
        log->hide();
        A::setEventLog(&w, log);
        {
            AppSettings s;
            s.setValue(SettingsKeys::AdvancedShowLog, true);
            s.setValue(SettingsKeys::AppearanceShowLoopIcon, true);
            s.remove(SettingsKeys::AudioDevice);
        }
        SoundButton::refreshIconSettingsCache();
        SessionManager::instance()->session().filePath = QStringLiteral("/nowhere/renamed-set.vx");

        int opened = 0;
        bool refreshedInside = false;
        TestSupport::ModalScript script([&](const Modal::Request& r) -> QVariant {
            if (r.kind != Modal::Kind::Dialog)
                return QVariant();
            ++opened;
            auto* d = qobject_cast<SettingsDialog*>(r.dialog);
            if (!d)
                return QVariant();
            {
                AppSettings s;
                s.setValue(SettingsKeys::AudioDevice, QStringLiteral("usb-out"));
            }
            QCheckBox* loop = nullptr;
            for (QCheckBox* b : d->findChildren<QCheckBox*>(QStringLiteral("toggleSwitch")))
                if (b->property("settingsKey").toString() == SettingsKeys::AppearanceShowLoopIcon)
                    loop = b;
            if (!loop)
                return QVariant();
            loop->toggle();
            refreshedInside = !SoundButton::showLoopIcon() && log->isVisibleTo(&w)
                && A::statusFile(&w)->text() == QStringLiteral("renamed-set.vx")
                && A::defaultDevice(&w) == QStringLiteral("usb-out");
            return int(QDialog::Rejected);
        });
        if (byKey)
            QTest::keyClick(&w, Qt::Key_Comma, Qt::ControlModifier);
        else
            w.openSettingsDialog();
        QCOMPARE(opened, 1);
        QVERIFY(refreshedInside);
        QCOMPARE(A::defaultDevice(&w), QStringLiteral("usb-out"));
        SessionManager::instance()->session().filePath.clear();
    }

    // Apply Theme over and over while everything else goes on: the settings
    // dialog open, a menu and toasts showing, a sound playing and the music
    // list filling and emptying. Every switch lands (the application's style
    // sheet is the new preset's) and nothing breaks on the way; run under
    // AddressSanitizer this also shows that no freed widget is touched. Each
    // row adds one more thing going on at the moment of the switch.
    void themeSwitchUnderLoad_data()
    {
        if (qEnvironmentVariableIsSet("TR_THEME_STRESS_APART"))
            QSKIP("the theme stress runs as a test entry of its own");
        QTest::addColumn<QString>("extra");
        QTest::addColumn<int>("rounds");   // TR_THEME_STRESS_ROUNDS replaces it
        QTest::newRow("once round the presets") << QString() << 9;
        QTest::newRow("two switches queued at once") << "twice" << 4;
        QTest::newRow("accent and preset queued at once") << "accent" << 4;
        QTest::newRow("toast card closing") << "toast closing" << 4;
        QTest::newRow("menu closing") << "menu closing" << 4;
        QTest::newRow("combo box popup open") << "combo popup" << 4;
        QTest::newRow("event log filling") << "log filling" << 4;
    }
    void themeSwitchUnderLoad()
    {
        QFETCH(QString, extra);
        QFETCH(int, rounds);
        MainWindow w;
        w.resize(1200, 800);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        auto* log = new EventLog(&w);
        A::setEventLog(&w, log);
        const QString wav = TestSupport::tempDir() + QStringLiteral("/loop.wav");
        QVERIFY(TestSupport::writeWav16(wav, TestSupport::sine(330, 1.0, 2, 44100, 0.2), 2, 44100));
        ButtonData sound;
        sound.id = QStringLiteral("stress-loop");
        sound.audioPath = wav;
        sound.loop = true;
        AudioEngine::instance()->play(sound, QString());
        QVERIFY(w.musicList);

        // Fewer rounds under a slow checker such as valgrind, more to hunt.
        const int kRounds = qEnvironmentVariableIntValue("TR_THEME_STRESS_ROUNDS") > 0
                                ? qEnvironmentVariableIntValue("TR_THEME_STRESS_ROUNDS")
                                : rounds;
        int applied = 0;
        QStringList mismatches;
        TestSupport::ModalScript script([&](const Modal::Request& r) -> QVariant {
            auto* d = qobject_cast<SettingsDialog*>(r.dialog);
            if (r.kind != Modal::Kind::Dialog || !d)
                return QVariant();
            d->showPage(SettingsDialog::Appearance);
            const QList<QMenu*>& menus = A::menuBarMenus(&w);
            for (int i = 1; i <= kRounds; ++i) {
                d->show();
                QMenu* menu = menus.isEmpty() ? nullptr : menus[i % menus.size()];
                if (menu)
                    menu->popup(w.mapToGlobal(QPoint(40 + 10 * (i % 5), 40)));
                w.toast(QStringLiteral("Round %1").arg(i), ToastManager::Type(i % 6), 50 + 10 * (i % 4));
                for (int k = 0; k < 120; ++k)
                    w.musicList->addItem(QStringLiteral("Track %1 of round %2").arg(k).arg(i));
                if (i % 3 == 0)
                    w.musicList->clear();
                const QList<QPushButton*> cards = d->findChildren<QPushButton*>(QStringLiteral("presetCard"));
                auto* apply = d->findChild<QPushButton*>(QStringLiteral("applyThemeBtn"));
                if (cards.isEmpty() || !apply)
                    return int(QDialog::Rejected);
                QComboBox* combo = extra == QLatin1String("combo popup") ? d->findChild<QComboBox*>() : nullptr;
                if (combo)
                    combo->showPopup();
                if (extra == QLatin1String("log filling"))
                    for (int k = 0; k < 300; ++k)
                        log->log(QStringLiteral("Stress"), QStringLiteral("Line %1 of round %2").arg(k).arg(i),
                                 QStringLiteral("ok"));
                cards[i % cards.size()]->click();
                if (!apply->isEnabled())
                    continue;
                apply->click();
                ++applied;
                if (extra == QLatin1String("twice")) {
                    // A second switch before the first one's style sheet is in.
                    d->show();
                    cards[(i + cards.size() - 1) % cards.size()]->click();
                    if (apply->isEnabled())
                        apply->click();
                } else if (extra == QLatin1String("accent")) {
                    ThemeManager::instance()->setAccent(ThemeManager::vibrantColor(i));
                } else if (extra == QLatin1String("toast closing")) {
                    for (ToastWidget* card : w.findChildren<ToastWidget*>())
                        card->close();
                } else if (extra == QLatin1String("menu closing") && menu) {
                    menu->hide();
                }
                // The deferred style sheet, freed cards and whatever the switch queued.
                for (int k = 0; k < 3; ++k) {
                    QCoreApplication::processEvents();
                    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
                }
                if (qApp->styleSheet() != ThemeManager::instance()->styleSheet())
                    mismatches << ThemeManager::instance()->presetName();
                if (combo)
                    combo->hidePopup();
                if (menu)
                    menu->hide();
            }
            return int(QDialog::Accepted);
        });
        w.openSettingsDialog();
        AudioEngine::instance()->stop(sound.id);
        QVERIFY2(applied >= kRounds * 8 / 9, qPrintable(QString::number(applied)));
        QVERIFY2(mismatches.isEmpty(), qPrintable(mismatches.join(QLatin1Char(','))));
        // The window still lays out and paints after the storm.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!w.grab().isNull());
        w.close();
    }

    // Each control of the dialog acts on the window at once, and what it
    // stored holds at the next start: the buttons' label size, pre-loading
    // (off: every press goes to the players), the auto-save interval and the
    // event log. Reset All brings back what its question lists.
    void settingsTakeEffect_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<int>("value");       // chosen in the dialog
        QTest::addColumn<QByteArray>("before"); // the store the window starts on
        QTest::newRow("label size Large") << "label size" << 14 << QByteArray();
        QTest::newRow("label size back to auto") << "label size" << 0
                                                 << QByteArray("[appearance]\nbtnFontSize=12\n");
        QTest::newRow("pre-load off") << "preload" << 0 << QByteArray();
        QTest::newRow("pre-load on") << "preload" << 1 << QByteArray("[audio]\npreload=false\n");
        QTest::newRow("auto-save disabled") << "autosave" << 0 << QByteArray();
        QTest::newRow("auto-save every 5 minutes") << "autosave" << 300 << QByteArray("[advanced]\nautosave=0\n");
        QTest::newRow("show the log") << "show log" << 1 << QByteArray();
        QTest::newRow("hide the log") << "show log" << 0 << QByteArray("[advanced]\nshowLog=true\n");
        QTest::newRow("reset all") << "reset" << 0
                                   << QByteArray("[advanced]\nshowLog=true\nautosave=0\n[audio]\npreload=false\n"
                                                 "[appearance]\nbtnFontSize=14\n");
    }
    void settingsTakeEffect()
    {
        QFETCH(QString, control);
        QFETCH(int, value);
        QFETCH(QByteArray, before);
        QVERIFY(SettingsTest::writeStore(before));
        SoundButton::refreshIconSettingsCache();
        SessionManager::instance()->setAutoSaveInterval(SettingsKeys::autoSaveSeconds() * 1000);

        MainWindow w;
        w.resize(1200, 800);
        w.show();
        Session s = SessionManager::instance()->session();
        QVERIFY(!s.tabs.isEmpty() && !s.tabs[0].buttons.isEmpty());
        s.tabs[0].buttons[0].name = QStringLiteral("Jingle label");
        s.tabs[0].buttons[0].audioPath = QStringLiteral("/nowhere/jingle.wav");
        s.tabs[0].buttons[0].fontSize = 0;
        SessionManager::instance()->session() = s;
        emit SessionManager::instance()->sessionLoaded(SessionManager::instance()->session());
        QCoreApplication::processEvents();
        SoundButton* pad = buttonNamed(w, QStringLiteral("Jingle label"));
        QVERIFY(pad);
        const QImage padBefore = pad->grab().toImage();
        // Where the store says the log shows, it shows from the start.
        QVERIFY(A::eventLog(&w));
        QCOMPARE(!A::eventLog(&w)->isHidden(), before.contains("showLog=true"));

        TestSupport::ModalScript script([&](const Modal::Request& r) -> QVariant {
            if (r.kind == Modal::Kind::MessageBox)
                return int(QMessageBox::Yes);
            auto* d = qobject_cast<SettingsDialog*>(r.dialog);
            if (r.kind != Modal::Kind::Dialog || !d)
                return QVariant();
            if (control == QLatin1String("label size") || control == QLatin1String("autosave")) {
                QComboBox* box = nullptr;
                for (QComboBox* c : d->findChildren<QComboBox*>()) {
                    const bool mine = control == QLatin1String("autosave")
                        ? c->findText(QStringLiteral("Every 5 minutes")) >= 0
                        : c->findText(QStringLiteral("Large (14px)")) >= 0;
                    if (mine)
                        box = c;
                }
                if (box)
                    box->setCurrentIndex(box->findData(value));
            } else if (control == QLatin1String("preload") || control == QLatin1String("show log")) {
                const QString text = control == QLatin1String("preload")
                    ? QStringLiteral("Pre-load audio files into memory (faster trigger)")
                    : QStringLiteral("Show Event Log panel");
                for (QCheckBox* c : d->findChildren<QCheckBox*>())
                    if (c->text() == text)
                        c->setChecked(value != 0);
            } else {
                for (QPushButton* b : d->findChildren<QPushButton*>())
                    if (b->property("settingsReset").toBool())
                        b->click();
            }
            return int(QDialog::Rejected);
        });
        w.openSettingsDialog();
        QCoreApplication::processEvents();

        const bool reset = control == QLatin1String("reset");
        const int labelPx = reset ? 0 : control == QLatin1String("label size") ? value : -1;
        if (labelPx >= 0) {
            QCOMPARE(SoundButton::labelSizePx(), labelPx);
            QVERIFY(pad->grab().toImage() != padBefore);
        }
        if (reset || control == QLatin1String("preload"))
            QCOMPARE(A::preloadOn(&w), reset || value != 0);
        if (reset)
            QCOMPARE(autoSaveMs(), 120000);
        if (control == QLatin1String("autosave"))
            QCOMPARE(autoSaveMs(), value * 1000);
        if (reset || control == QLatin1String("show log"))
            QCOMPARE(!A::eventLog(&w)->isHidden(), !reset && value != 0);

        // The next start keeps what was chosen.
        SoundButton::refreshIconSettingsCache();
        MainWindow again;
        QCOMPARE(!A::eventLog(&again)->isHidden(), !reset && control == QLatin1String("show log") && value);
        QCOMPARE(A::preloadOn(&again), control != QLatin1String("preload") || value != 0);
        if (labelPx >= 0)
            QCOMPARE(SoundButton::labelSizePx(), labelPx);
        SessionManager::instance()->setAutoSaveInterval(0);
        SessionManager::instance()->setDirty(false);
    }

    // The Shortcuts page teaches only what the window has. Every key it
    // names is bound in the window's key map to the command its row names
    // (the window's own name for it beside the card's), and every place it
    // sends the user to ("place → entry") opens a menu of the window with
    // that entry. A key or an entry the window lacks fails here.
    void shortcutCardTellsTheWindow()
    {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QTRY_VERIFY(!w.findChildren<SoundButton*>().isEmpty());
        SettingsDialog d;
        QStringList goTo;
        for (int k = 1; k <= 9; ++k)
            goTo << QStringLiteral("Go to Tab %1").arg(k);
        struct Row
        {
            QString cap;
            QString name;
            QStringList bound; // the window's names of the cap's keys; none: no key but a place
        };
        const QList<Row> rows = {
            {"Space", "Stop All", {"Stop All"}},
            {"Escape", "Panic Stop", {"Panic Stop"}},
            {"Ctrl+N", "New Session", {"New Set"}},
            {"Ctrl+O", "Open Session", {"Open Set"}},
            {"Ctrl+S", "Save Session", {"Save"}},
            {"Ctrl+Shift+S", "Save As", {"Save As"}},
            {"Ctrl+,", "Settings", {"Settings"}},
            {"Ctrl+1 – 9", "Switch Tabs", goTo},
            {"Ctrl+T", "New Tab", {"New Tab"}},
            {"Button's key", "Trigger a Button", {}},
            {"Tools → Settings", "Open MIDI Settings", {}},
        };

        // The card's rows, and every text it shows.
        QStringList texts;
        QList<std::pair<QString, QString>> shown;
        for (QWidget* row : d.findChildren<QWidget*>(QStringLiteral("shortcutRow"))) {
            auto* cap = row->findChild<QLabel*>(QStringLiteral("keyCap"));
            QLabel* text = nullptr;
            for (QLabel* l : row->findChildren<QLabel*>())
                if (l != cap)
                    text = l;
            QVERIFY(cap && text);
            const QRegularExpressionMatch name = QRegularExpression(QStringLiteral("<b>(.*)</b>")).match(text->text());
            shown.append({cap->text(), name.captured(1)});
            texts << cap->text() << text->text();
        }
        for (QLabel* note : d.findChildren<QLabel*>(QStringLiteral("shortcutNote")))
            texts << note->text();
        QCOMPARE(texts.size(), 2 * int(rows.size()) + 2);
        QList<std::pair<QString, QString>> expected;
        for (const Row& r : rows)
            expected.append({r.cap, r.name});
        QCOMPARE(shown, expected);

        // Each key of a cap ("Ctrl+1 – 9" is nine) does what the row says.
        const QList<std::pair<QKeySequence, QString>> keyMap = A::windowKeyMap(&w);
        for (const Row& r : rows) {
            QStringList keys{r.cap};
            const QRegularExpressionMatch range = QRegularExpression(QStringLiteral("^(.*)(\\d) – (\\d)$")).match(r.cap);
            if (range.hasMatch()) {
                keys.clear();
                for (int k = range.captured(2).toInt(); k <= range.captured(3).toInt(); ++k)
                    keys << range.captured(1) + QString::number(k);
            }
            if (r.bound.isEmpty())
                continue;
            QCOMPARE(keys.size(), r.bound.size());
            for (int i = 0; i < keys.size(); ++i) {
                QStringList does;
                for (const auto& [seq, name] : keyMap)
                    if (seq == QKeySequence(keys[i], QKeySequence::PortableText))
                        does << name;
                QVERIFY2(!does.isEmpty(), qPrintable(keys[i] + QStringLiteral(": no such key in the window")));
                for (const QString& name : std::as_const(does))
                    QVERIFY2(name == r.bound[i], qPrintable(keys[i] + QStringLiteral(" does ") + name));
            }
        }

        // The places, each opened as the card says, and the entries they show.
        GridHeader* header = A::panels(&w).first().header;
        QMenu* tools = nullptr;
        for (int i = 0; i < A::menuBarButtons(&w).size(); ++i)
            if (A::menuBarButtons(&w)[i]->text() == QStringLiteral("Tools"))
                tools = A::menuBarMenus(&w)[i];
        QVERIFY(tools);
        QStringList toolEntries;
        for (QAction* a : tools->actions())
            toolEntries << entryName(a->text());
        SoundButton* pad = w.findChildren<SoundButton*>().value(0);
        QVERIFY(pad);
        bool volLabel = false;
        for (QLabel* l : w.findChildren<QLabel*>())
            volLabel = volLabel || l->text() == QStringLiteral("VOL");
        QVERIFY(volLabel);
        const QHash<QString, QStringList> places = {
            {QStringLiteral("Right-click any sound button"), menuEntries([pad] {
                 QContextMenuEvent e(QContextMenuEvent::Keyboard, QPoint(2, 2), pad->mapToGlobal(QPoint(2, 2)));
                 QCoreApplication::sendEvent(pad, &e);
             })},
            {QStringLiteral("Right-click the VOL slider"),
             menuEntries([&w] { emit A::volSlider(&w)->customContextMenuRequested(QPoint(2, 2)); })},
            {QStringLiteral("Right-click the ■ Stop button in a grid's header"),
             menuEntries([header] { emit header->stopButton()->customContextMenuRequested(QPoint(2, 2)); })},
            {QStringLiteral("Right-click the volume slider in a grid's header"),
             menuEntries([header] { emit header->m_volSlider->customContextMenuRequested(QPoint(2, 2)); })},
            {QStringLiteral("Tools"), toolEntries},
        };
        int chains = 0;
        for (const QString& text : std::as_const(texts)) {
            for (const QStringList& chain : placeChains(text)) {
                ++chains;
                QVERIFY2(chain.size() == 2 && places.contains(chain[0]),
                         qPrintable(chain.join(QStringLiteral(" → ")) + QStringLiteral(": a place the window lacks")));
                QVERIFY2(places[chain[0]].contains(chain[1]),
                         qPrintable(chain.join(QStringLiteral(" → ")) + QStringLiteral(": not in ")
                                    + places[chain[0]].join(QLatin1Char('|'))));
            }
        }
        QCOMPARE(chains, 8);
    }

    // A tab stop key removed on the MIDI page stops nothing from then on.
    void removedTabStopKeyGoesAtOnce()
    {
        MainWindow w;
        Session& s = SessionManager::instance()->session();
        s.tabs[0].stopKey = QStringLiteral("F5");
        w.refreshTabDerivedState();
        auto liveF5 = [&w] {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            int n = 0;
            for (QShortcut* sc : w.findChildren<QShortcut*>())
                n += sc->isEnabled() && sc->key() == QKeySequence(Qt::Key_F5) ? 1 : 0;
            return n;
        };
        bool clicked = false;
        TestSupport::ModalScript script([&](const Modal::Request& r) -> QVariant {
            if (r.kind != Modal::Kind::Dialog)
                return QVariant();
            auto* rows = r.dialog->findChild<QWidget*>(QStringLiteral("midiTabRows"));
            for (QPushButton* b : rows ? rows->findChildren<QPushButton*>() : QList<QPushButton*>())
                if (b->text() == QStringLiteral("Stop")) {
                    b->click();
                    clicked = true;
                    break;
                }
            return int(QDialog::Rejected);
        });
        w.openSettingsDialog();
        QVERIFY(clicked);
        QVERIFY(SessionManager::instance()->session().tabs[0].stopKey.isEmpty());
        QCOMPARE(liveF5(), 0);
        SessionManager::instance()->setDirty(false);
    }
};

QTEST_MAIN(TestSettingsWindow)
#include "tst_settings_window.moc"
