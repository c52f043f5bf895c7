#pragma once
// Sessions for the tab and button editing suites, a scripted answer for every
// modal request, and the check that presses, hot keys, tab stop keys and tab
// volume keys still reach the tab they name.
#include <QKeyEvent>
#include <QMessageBox>
#include <QRegularExpression>
#include <QShortcut>
#include <QtTest>
#include <functional>

#include "MonoClock.h"
#include "RoutingSupport.h"

namespace TabEdit {

// Answers modal requests in order; every request is kept. A request with no
// answer left gets an empty answer (Cancel, No, nothing chosen).
struct Script
{
    struct Asked
    {
        Modal::Kind kind;
        QString title;
        QString text;
        QString label;
    };
    QList<Asked> asked;
    QList<std::function<QVariant(const Modal::Request&)>> answers;
    TestSupport::ModalScript installed{[this](const Modal::Request& r) {
        asked.append({r.kind, r.title, r.text, r.label});
        if (answers.isEmpty())
            return QVariant();
        return answers.takeFirst()(r);
    }};

    void answer(const QVariant& v)
    {
        answers.append([v](const Modal::Request&) { return v; });
    }
    QStringList titles() const
    {
        QStringList t;
        for (const Asked& a : asked)
            t << a.title;
        return t;
    }
    void clear()
    {
        asked.clear();
        answers.clear();
    }
};

inline QString letter(int t)
{
    return QString(QChar(u'A' + t));
}

// n tabs "Tab 1".. of perTab buttons with readable ids ("t<k>b<i>"). Tab k
// has volume (10 + 5k) %, its first two buttons a file, the second the
// hot key <letter k>, and the tab the stop key Ctrl+Alt+Shift+<letter>, the
// volume keys Alt+<letter> and Alt+Shift+<letter>.
inline Session board(int n, int perTab = 24)
{
    Session s;
    s.buttonsPerTab = perTab;
    s.layoutMode = 1;
    for (int k = 0; k < n; ++k) {
        TabData t;
        t.id = QStringLiteral("tab%1").arg(k);
        t.name = QStringLiteral("Tab %1").arg(k + 1);
        t.volume = (10 + 5 * k) / 100.0;
        t.stopKey = QStringLiteral("Ctrl+Alt+Shift+") + letter(k);
        t.volUpKey = QStringLiteral("Alt+") + letter(k);
        t.volDnKey = QStringLiteral("Alt+Shift+") + letter(k);
        for (int i = 0; i < perTab; ++i) {
            ButtonData b;
            b.id = QStringLiteral("t%1b%2").arg(k).arg(i);
            if (i < 2) {
                b.audioPath = QStringLiteral("/x/%1.wav").arg(b.id);
                b.name = QStringLiteral("Sound ") + b.id;
            }
            if (i == 1)
                b.key = letter(k);
            t.buttons << b;
        }
        s.tabs << t;
    }
    return s;
}

inline Session& session()
{
    return SessionManager::instance()->session();
}

inline QStringList idsOf(const QList<ButtonData>& list)
{
    QStringList ids;
    for (const ButtonData& b : list)
        ids << b.id;
    return ids;
}

inline QStringList callsNaming(const QStringList& calls, const QString& prefix)
{
    QStringList out;
    for (const QString& c : calls)
        if (c.startsWith(prefix))
            out << c;
    return out;
}

// A press that types a button's key: the key code and text a keyboard gives
// (ß for the stored "SS"), and whether the window plays the button for it
// with the modifiers. Code 0: no such press.
struct HotKeyPress
{
    int code = 0;
    QString text;
    bool fires = false;
};

inline HotKeyPress hotKeyPress(const QString& key, Qt::KeyboardModifiers mods)
{
    static const QRegularExpression fKey(QStringLiteral("^F([1-9]|1[0-2])$"));
    const QRegularExpressionMatch f = fKey.match(key);
    if (f.hasMatch())
        return {mods == Qt::NoModifier ? Qt::Key_F1 + f.captured(1).toInt() - 1 : 0, QString(), true};
    if (key == QLatin1String("SS"))
        return {mods == Qt::NoModifier ? int(Qt::Key_ssharp) : 0, QStringLiteral("ß"), true};
    if (key.size() != 1)
        return {};
    // Qt's key codes of Latin-1 characters are their upper-case code points.
    const bool caseless = key.toLower() == key;
    const QString text = mods == Qt::NoModifier ? key.toLower() : key;
    return {key.at(0).unicode(), text, mods == Qt::NoModifier || caseless};
}

// Every tab of the session is shown by its own pane, and a mouse press, its
// hot key, its stop key and its volume key reach that tab and no other. A
// volume key that two tabs share is ambiguous and reaches neither; a stop key
// that two tabs share stops both.
inline void checkRouting(MainWindow* w, RecordingEngines& rec, FakeClock& clock, qint64& wallNow)
{
    using A = RoutingTestAccess;
    const QList<TabData> tabs = session().tabs;
    const QList<MainWindow::GridPanel>& panes = A::panels(w);
    QCOMPARE(panes.size(), tabs.size());
    QHash<QString, int> tabOfId;
    QHash<QString, int> volKeyUse;
    QHash<QString, QString> keyHolder; // the later button wins
    for (int t = 0; t < tabs.size(); ++t) {
        for (const ButtonData& b : tabs[t].buttons) {
            tabOfId.insert(b.id, t);
            if (!b.key.isEmpty() && !b.audioPath.isEmpty())
                keyHolder.insert(b.key, b.id);
        }
        ++volKeyUse[tabs[t].volUpKey];
    }
    for (int t = 0; t < tabs.size(); ++t) {
        QCOMPARE(panes[t].tabIndex, t);
        ButtonGrid* grid = panes[t].grid;
        QVERIFY(grid);
        QCOMPARE(idsOf(grid->tab().buttons), idsOf(tabs[t].buttons));
        const TabData& tab = session().tabs[t];
        const QString first = tab.buttons[0].id;

        // Mouse (a tab of empty buttons has nothing to play).
        rec.reset();
        if (!tab.buttons[0].audioPath.isEmpty()) {
        clock.advanceMs(100);
        SoundButton* pad = grid->buttonWidget(0);
        QTest::mousePress(pad, Qt::LeftButton);
        QTest::mouseRelease(pad, Qt::LeftButton);
        QVERIFY2(rec.calls.contains(QStringLiteral("audio.playRapid %1 %2 ").arg(first).arg(tab.volume)),
                 qPrintable(rec.calls.join(QLatin1Char('|'))));
        }

        // Hot key, pressed as a layout that types it alone gives it; a sign
        // or a digit also as one that types it with Shift, while a letter
        // with Shift fires nothing.
        const QString key = tab.buttons[1].key;
        for (const Qt::KeyboardModifiers mods : {Qt::NoModifier, Qt::ShiftModifier}) {
            const HotKeyPress press = hotKeyPress(key, mods);
            if (press.code == 0)
                continue;
            rec.reset();
            wallNow += 1000;
            QKeyEvent e(QEvent::KeyPress, press.code, mods, press.text);
            QCoreApplication::sendEvent(w, &e);
            const QString holder = keyHolder.value(key);
            const double v = session().tabs[tabOfId.value(holder)].volume;
            QVERIFY2(rec.calls.contains(QStringLiteral("audio.playRapid %1 %2 ").arg(holder).arg(v)) == press.fires,
                     qPrintable(key + QLatin1Char(' ') + rec.calls.join(QLatin1Char('|'))));
        }

        // Stop key: every button of the tab stops, nothing of another tab.
        rec.reset();
        const QKeySequence stop(tab.stopKey);
        QTest::keySequence(w, stop);
        const QStringList stops = callsNaming(rec.calls, QStringLiteral("audio.stop "));
        if (tab.stopKey.isEmpty()) {
            QVERIFY(stops.isEmpty());
        } else {
            int expected = 0;
            for (const TabData& other : tabs)
                if (other.stopKey == tab.stopKey)
                    expected += int(other.buttons.size());
            QCOMPARE(stops.size(), expected);
            for (const QString& c : stops)
                QCOMPARE(tabs.value(tabOfId.value(c.mid(11), -1)).stopKey, tab.stopKey);
        }

        // Volume key: the tab's slider steps; its playing buttons take their
        // own volume times the tab's, as with the fader.
        rec.reset();
        for (const QString& id : tabOfId.keys())
            rec.audio.insert(id);
        const int before = panes[t].header->m_volSlider->value();
        QTest::keySequence(w, QKeySequence(tab.volUpKey));
        const QStringList vols = callsNaming(rec.calls, QStringLiteral("audio.buttonVolume "));
        if (!tab.volUpKey.isEmpty() && volKeyUse.value(tab.volUpKey) == 1) {
            const int next = qMin(before + 5, 100);
            QCOMPARE(panes[t].header->m_volSlider->value(), next);
            if (next != before)
                QVERIFY(vols.contains(QStringLiteral("audio.buttonVolume %1 %2")
                                          .arg(first)
                                          .arg(tab.buttons[0].volume * (next / 100.0))));
            else
                QVERIFY(vols.isEmpty());
            QCOMPARE(session().tabs[t].volume, next / 100.0);
        } else {
            QCOMPARE(panes[t].header->m_volSlider->value(), before);
        }
        for (const QString& c : vols)
            QCOMPARE(tabOfId.value(c.section(QLatin1Char(' '), 1, 1), -1), t);
        rec.reset();
    }
}

} // namespace TabEdit
