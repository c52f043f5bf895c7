// The shortcuts table: which buttons are listed, capturing keys typed into the
// table, conflicts answered both ways, auto-assignment and clearing, and the
// session changing only when the dialog is accepted.
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QTableWidget>
#include <QtTest>

#include "ButtonEditDialog.h"
#include "ButtonKey.h"
#include "ShortcutsDialog.h"
#include "TestSupport.h"
#include "ThemeManager.h"

using TestSupport::ModalScript;

namespace {

ButtonData btn(const QString& name, const QString& path = QString(), const QString& key = QString())
{
    ButtonData b;
    b.id = QStringLiteral("id-") + name + path;
    b.name = name;
    b.audioPath = path;
    b.key = key;
    return b;
}

// Tab "Music": Intro (key I), an unnamed file, an empty button (key Z);
// tab "Jingles": News, Weather.
Session smallSession()
{
    Session s;
    TabData music;
    music.name = QStringLiteral("Music");
    music.buttons = {btn(QStringLiteral("Intro"), QStringLiteral("/m/intro.mp3"), QStringLiteral("I")),
                     btn(QString(), QStringLiteral("/m/bed.loop.wav")), btn(QString(), QString(), QStringLiteral("Z"))};
    TabData jingles;
    jingles.name = QStringLiteral("Jingles");
    jingles.buttons = {btn(QStringLiteral("News")), btn(QStringLiteral("Weather"), QStringLiteral("/j/w.wav"))};
    s.tabs = {music, jingles};
    return s;
}

QString cell(ShortcutsDialog& d, int row, int col) { return d.table()->item(row, col)->text(); }

// Records every question and answers from a list (No once it runs out).
struct Questions
{
    QList<Modal::Request> asked;
    QList<int> answers;
    ModalScript script{[this](const Modal::Request& r) -> QVariant {
        asked << r;
        return answers.isEmpty() ? int(QMessageBox::No) : answers.takeFirst();
    }};
};

// Whether the label's whole text fits it, wrapped when the label wraps.
bool showsWhole(QLabel* l)
{
    QCoreApplication::processEvents();
    const QRect box = l->contentsRect();
    const int flags = l->wordWrap() ? int(Qt::TextWordWrap) : 0;
    const QRect need = l->fontMetrics().boundingRect(QRect(0, 0, box.width(), 100000), flags, l->text());
    return need.width() <= box.width() && need.height() <= box.height();
}

} // namespace

class TstShortcuts : public QObject
{
    Q_OBJECT

    // A key pressed for the row of News (with the text the keyboard gives,
    // or the one QTest makes for the key): stored, or refused with the
    // reason while the row keeps waiting for the next key.
    void pressInTheTable(int key, int mods, const QString& text, const QString& stored, const QString& why)
    {
        Session s = smallSession();
        ShortcutsDialog d(s);
        d.resize(d.minimumSize()); // the prompt and the refusals show whole even here
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        QTableWidget* t = d.table();
        t->setFocus();
        d.onCellClicked(2, 1); // News, no key yet
        QVERIFY2(showsWhole(d.statusLabel()), qPrintable(d.statusLabel()->text()));
        if (text.isEmpty())
            QTest::keyClick(t, Qt::Key(key), Qt::KeyboardModifiers(mods));
        else
            QTest::sendKeyEvent(QTest::Click, t, Qt::Key(key), text, Qt::KeyboardModifiers(mods));
        QCOMPARE(d.keyAt(2), stored);
        if (stored.isEmpty()) {
            QVERIFY2(d.statusLabel()->text().contains(why), qPrintable(d.statusLabel()->text()));
            QVERIFY2(showsWhole(d.statusLabel()), qPrintable(d.statusLabel()->text()));
            QVERIFY(d.isCaptureArmed());
            QCOMPARE(d.selectedRow(), 2);
            QTest::keyClick(t, Qt::Key_J); // the next key is taken
            QCOMPARE(d.keyAt(2), QStringLiteral("J"));
        } else {
            QCOMPARE(d.statusLabel()->text(),
                     QStringLiteral("✓ Key \"%1\" assigned. Click another row to continue.").arg(stored));
        }
        QVERIFY(d.isVisible());
    }

private slots:
    void listing()
    {
        Session s = smallSession();
        ShortcutsDialog d(s);
        QCOMPARE(d.windowTitle(), QStringLiteral("Keyboard Shortcuts Manager"));
        QCOMPARE(d.rowCount(), 4);
        QCOMPARE(cell(d, 0, 0), QStringLiteral("Music"));
        QCOMPARE(cell(d, 0, 1), QStringLiteral("Intro"));
        QCOMPARE(cell(d, 0, 2), QStringLiteral("I"));
        QCOMPARE(cell(d, 0, 3), QStringLiteral("intro.mp3"));
        // Without a name: the file's base name without its last suffix.
        QCOMPARE(cell(d, 1, 1), QStringLiteral("bed.loop"));
        QCOMPARE(cell(d, 2, 0), QStringLiteral("Jingles"));
        QCOMPARE(cell(d, 2, 3), QStringLiteral("--"));
        // The file column is muted: the theme's muted text, moved only as far as reading needs.
        QVERIFY(ThemeManager::contrast(d.table()->item(2, 3)->foreground().color(),
                                       ThemeManager::instance()->colors().textMuted) < 2.0);
        QCOMPARE(d.table()->item(0, 2)->textAlignment(), int(Qt::AlignCenter));
        QCOMPARE(d.statusLabel()->text(),
                 QStringLiteral("Click a row, then press a key to assign it. 4 assigned buttons."));
        QCOMPARE(d.statusLabel()->objectName(), QStringLiteral("panelHdrLbl"));
        QVERIFY(d.statusLabel()->styleSheet().contains(QStringLiteral("rgba(227,27,35,")));

        Session none;
        none.tabs = {TabData()};
        none.tabs[0].buttons = {btn(QString()), btn(QString())};
        ShortcutsDialog empty(none);
        QCOMPARE(empty.rowCount(), 0);
        QCOMPARE(empty.statusLabel()->text(),
                 QStringLiteral("Click a row, then press a key to assign it. 0 assigned buttons."));
        Questions q;
        q.answers = {QMessageBox::Yes};
        empty.onAutoAssign();
        QCOMPARE(empty.statusLabel()->text(), QStringLiteral("✓ Auto-assigned 0 keys."));
    }

    void captureFromTheTable()
    {
        Session s = smallSession();
        ShortcutsDialog d(s);
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        Questions q;
        QTableWidget* t = d.table();

        // A real click on the row, a real key on the table that has the focus.
        QTest::mouseClick(t->viewport(), Qt::LeftButton, {}, t->visualRect(t->model()->index(2, 1)).center());
        QVERIFY(d.isCaptureArmed());
        QCOMPARE(d.selectedRow(), 2);
        QCOMPARE(d.statusLabel()->text(),
                 QStringLiteral("Press any key to assign to \"News\"  (Backspace = clear, Escape = cancel)"));
        QVERIFY(d.statusLabel()->styleSheet().contains(QStringLiteral("rgba(0,200,83,")));
        t->setFocus();
        QTest::keyClick(t, Qt::Key_Shift); // no text: nothing assigned, still waiting
        QVERIFY(d.isCaptureArmed());
        QTest::keyClick(t, Qt::Key_Q); // typed as a lower-case q
        QCOMPARE(d.keyAt(2), QStringLiteral("Q"));
        QCOMPARE(cell(d, 2, 2), QStringLiteral("Q"));
        QVERIFY(!d.isCaptureArmed());
        QCOMPARE(d.selectedRow(), -1);
        QCOMPARE(d.statusLabel()->text(), QStringLiteral("✓ Key \"Q\" assigned. Click another row to continue."));
        QVERIFY(d.statusLabel()->styleSheet().contains(QStringLiteral("rgba(227,27,35,")));
        // Not waiting any more: a key goes to the table as usual.
        QTest::keyClick(t, Qt::Key_W);
        QCOMPARE(d.keyAt(2), QStringLiteral("Q"));

        // A file without a name: the prompt shows the stored (empty) name.
        d.onCellClicked(1, 0);
        QCOMPARE(d.statusLabel()->text(),
                 QStringLiteral("Press any key to assign to \"\"  (Backspace = clear, Escape = cancel)"));
        QTest::keyClick(t, Qt::Key_F5);
        QCOMPARE(d.keyAt(1), QStringLiteral("F5"));

        // Backspace clears without asking anything.
        d.onCellClicked(0, 3);
        QTest::keyClick(t, Qt::Key_Backspace);
        QCOMPARE(d.keyAt(0), QString());
        QCOMPARE(cell(d, 0, 2), QString());
        QCOMPARE(d.statusLabel()->text(),
                 QStringLiteral("✓ Key \"cleared\" assigned. Click another row to continue."));
        QVERIFY(q.asked.isEmpty());

        // Escape while waiting only stops waiting; otherwise it is Cancel.
        d.onCellClicked(3, 0);
        QTest::keyClick(t, Qt::Key_Escape);
        QVERIFY(!d.isCaptureArmed());
        QCOMPARE(d.statusLabel()->text(), QStringLiteral("Click a row, then press a key to assign it."));
        QVERIFY(d.isVisible());
        QCOMPARE(d.keyAt(3), QString());
        QTest::keyClick(t, Qt::Key_Escape);
        QVERIFY(!d.isVisible());
        QCOMPARE(d.result(), int(QDialog::Rejected));
        // Cancelled: the session never saw any of it.
        QCOMPARE(s, smallSession());

        // Out-of-range clicks are ignored.
        d.onCellClicked(9, 0);
        d.onCellClicked(-1, 0);
        QVERIFY(!d.isCaptureArmed());
    }

    // Only a key the window can play is taken: its character typed with no
    // Ctrl, Alt or Meta held (Shift and AltGr where they choose a sign or a
    // digit), or F1 to F12, and not white space. Signs that one layout types
    // alone and another with Shift (ß stored as "SS", the ISO <, German #,
    // French &) are taken either way. Others are refused with the reason, and
    // the row keeps waiting. A name of the same kind typed into the edit
    // form's key box (at most four characters) meets the same rule and the
    // same reason; key 0 rows are typed names only, a null typed name a press
    // only. The window plays by what the press gives here (ButtonKey::ofPress).
    void keysThatCanFire_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("mods");
        QTest::addColumn<QString>("text"); // what the press types; empty: QTest's text for the key
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("stored"); // empty: refused
        QTest::addColumn<QString>("why");
        const QString space = QStringLiteral("Space cannot play a button");
        const QString held = QStringLiteral("Ctrl, Alt or Meta cannot play a button");
        const QString shift = QStringLiteral("Shift plays a button only where Shift types a sign or a digit");
        const QString escape = QStringLiteral("Escape cannot play a button");
        const QString other = QStringLiteral("cannot play a button: a button plays on one letter");
        const int none = 0;
        const int shifted = int(Qt::ShiftModifier);
        const int altGr = int(Qt::GroupSwitchModifier);
        QTest::newRow("Space") << int(Qt::Key_Space) << none << "" << " " << QString() << space;
        QTest::newRow("Ctrl+A") << int(Qt::Key_A) << int(Qt::ControlModifier) << "" << "ALT+" << QString() << held;
        QTest::newRow("Alt+F5") << int(Qt::Key_F5) << int(Qt::AltModifier) << "" << "alt+F5" << QString() << held;
        QTest::newRow("Shift+A") << int(Qt::Key_A) << shifted << "" << QString() << QString() << shift;
        QTest::newRow("Shift+F5") << int(Qt::Key_F5) << shifted << "" << QString() << QString() << shift;
        QTest::newRow("a letter") << int(Qt::Key_G) << none << "" << "g" << QStringLiteral("G") << QString();
        QTest::newRow("F5") << int(Qt::Key_F5) << none << "" << "f5" << QStringLiteral("F5") << QString();
        QTest::newRow("keypad 7") << int(Qt::Key_7) << int(Qt::KeypadModifier) << "" << "7" << QStringLiteral("7")
                                  << QString();
        // By layout: each sign as a keyboard that types it alone gives it,
        // and as one that needs Shift or AltGr for it.
        QTest::newRow("ß, German") << int(Qt::Key_ssharp) << none << "ß" << "ß" << QStringLiteral("SS") << QString();
        QTest::newRow("ß stored, typed") << none << none << "" << "SS" << QStringLiteral("SS") << QString();
        QTest::newRow("<, ISO") << int(Qt::Key_Less) << none << "<" << "<" << QStringLiteral("<") << QString();
        QTest::newRow("<, US Shift+comma") << int(Qt::Key_Less) << shifted << "<" << "<" << QStringLiteral("<")
                                           << QString();
        QTest::newRow("#, German") << int(Qt::Key_NumberSign) << none << "#" << "#" << QStringLiteral("#")
                                   << QString();
        QTest::newRow("#, US Shift+3") << int(Qt::Key_NumberSign) << shifted << "#" << "#" << QStringLiteral("#")
                                       << QString();
        QTest::newRow("&, French") << int(Qt::Key_Ampersand) << none << "&" << "&" << QStringLiteral("&")
                                   << QString();
        QTest::newRow("1, French Shift+&") << int(Qt::Key_1) << shifted << "1" << "1" << QStringLiteral("1")
                                           << QString();
        QTest::newRow("!, US Shift+1") << int(Qt::Key_Exclam) << shifted << "!" << "!" << QStringLiteral("!")
                                       << QString();
        QTest::newRow("ä, German") << int(Qt::Key_Adiaeresis) << none << "ä" << "ä" << QStringLiteral("Ä")
                                   << QString();
        QTest::newRow("Ä with Shift") << int(Qt::Key_Adiaeresis) << shifted << "Ä" << QString() << QString()
                                      << shift;
        QTest::newRow("é, French") << int(Qt::Key_Eacute) << none << "é" << "é" << QStringLiteral("É") << QString();
        QTest::newRow("@, German AltGr+Q") << int(Qt::Key_At) << altGr << "@" << "@" << QStringLiteral("@")
                                           << QString();
        QTest::newRow("typed CTRL+1, cut to four") << none << none << "" << "CTRL+1" << QString() << other;
        QTest::newRow("typed ESC") << none << none << "" << "ESC" << QString() << escape;
        QTest::newRow("typed F12") << none << none << "" << "F12" << QStringLiteral("F12") << QString();
        QTest::newRow("typed F13") << none << none << "" << "F13" << QString() << other;
        QTest::newRow("typed F0") << none << none << "" << "F0" << QString() << other;
        QTest::newRow("typed word") << none << none << "" << "play" << QString() << other;
        QTest::newRow("typed ss") << none << none << "" << "ss" << QString() << other;
        QTest::newRow("typed spaces") << none << none << "" << "  " << QString() << space;
        QTest::newRow("typed question mark") << none << none << "" << "?" << QStringLiteral("?") << QString();
        QTest::newRow("typed padded Q") << none << none << "" << " Q" << QString() << other;
        QTest::newRow("typed keypad star") << none << none << "" << "*" << QStringLiteral("*") << QString();
        QTest::newRow("typed comma") << none << none << "" << "," << QStringLiteral(",") << QString();
        QTest::newRow("typed tab character") << none << none << "" << "\t" << QString() << space;
    }

    void keysThatCanFire()
    {
        QFETCH(int, key);
        QFETCH(int, mods);
        QFETCH(QString, text);
        QFETCH(QString, typed);
        QFETCH(QString, stored);
        QFETCH(QString, why);
        if (key != 0) {
            pressInTheTable(key, mods, text, stored, why);
            if (QTest::currentTestFailed())
                return;
            // The window plays by the same rule: what it plays for the press.
            const char ascii = QTest::keyToAscii(Qt::Key(key));
            const QString typedText = !text.isEmpty() ? text : ascii ? QString(QChar::fromLatin1(ascii)) : QString();
            const QKeyEvent press(QEvent::KeyPress, key, Qt::KeyboardModifiers(mods), typedText);
            QCOMPARE(ButtonKey::ofPress(&press), stored);
        }
        if (typed.isNull())
            return;

        // The edit form's key box: OK is refused with the reason and the
        // form stays open; an accepted key is stored upper-cased.
        ButtonData b = btn(QStringLiteral("News"), QStringLiteral("/j/n.wav"), QStringLiteral("N"));
        ButtonEditDialog d(b);
        d.show();
        QStringList said;
        ModalScript script([&](const Modal::Request& r) -> QVariant {
            said << r.title + QLatin1Char('|') + r.text;
            return int(QMessageBox::Ok);
        });
        auto* box = d.findChild<QLineEdit*>(QStringLiteral("keyEdit"));
        QVERIFY(box);
        box->setText(typed);
        d.accept();
        if (stored.isEmpty()) {
            QCOMPARE(said.size(), 1);
            QVERIFY2(said[0].startsWith(QStringLiteral("Shortcut Key|")) && said[0].contains(why), qPrintable(said[0]));
            QVERIFY(d.isVisible());
            box->setText(QStringLiteral("j")); // another key is taken
            d.accept();
            QCOMPARE(d.result().key, QStringLiteral("J"));
        } else {
            QCOMPARE(said, QStringList());
            QCOMPARE(d.result().key, stored);
        }
        QVERIFY(!d.isVisible());
        QCOMPARE(d.result(), [&] {
            ButtonData expected = b;
            expected.key = stored.isEmpty() ? QStringLiteral("J") : stored;
            return expected;
        }());

        // A button that carries the key (a refused one as a file could give
        // it) is renamed without a word about its key, and keeps it.
        ButtonData carrier = b;
        carrier.key = stored.isEmpty() ? ButtonKey::stored(typed) : stored;
        ButtonEditDialog rename(carrier);
        rename.show();
        said.clear();
        rename.findChild<QLineEdit*>(QStringLiteral("nameEdit"))->setText(QStringLiteral("News at Six"));
        rename.accept();
        QCOMPARE(said, QStringList());
        QCOMPARE(rename.QDialog::result(), int(QDialog::Accepted));
        QCOMPARE(rename.result().name, QStringLiteral("News at Six"));
        QCOMPARE(rename.result().key, carrier.key);
    }

    void conflicts()
    {
        Session s = smallSession();
        s.tabs[0].buttons[1].key = QStringLiteral("N");   // the unnamed file
        s.tabs[1].buttons[1].key = QStringLiteral("N");   // Weather
        s.tabs[0].buttons[0].key = QStringLiteral("n");   // Intro: another key (case counts)
        ShortcutsDialog d(s);
        Questions q;

        // Two holders: Yes to the first, No to the second.
        q.answers = {QMessageBox::Yes, QMessageBox::No};
        d.onCellClicked(2, 0); // News
        QTest::keyClick(d.table(), Qt::Key_N);
        QCOMPARE(q.asked.size(), 2);
        QCOMPARE(q.asked[0].title, QStringLiteral("Shortcut Key Already Assigned"));
        QCOMPARE(q.asked[0].text,
                 QStringLiteral("Key \"N\" is already assigned to \"bed.loop\".\n\nDo you want to remove that "
                                "assignment and assign it to \"News\" instead?"));
        QCOMPARE(q.asked[0].value, double(QMessageBox::Yes | QMessageBox::No));
        QVERIFY(q.asked[1].text.contains(QStringLiteral("assigned to \"Weather\"")));
        QCOMPARE(d.keyAt(1), QString());            // the first holder has lost it already
        QCOMPARE(cell(d, 1, 2), QString());
        QCOMPARE(d.keyAt(3), QStringLiteral("N"));  // the second keeps it
        QCOMPARE(d.keyAt(2), QString());            // and News is unchanged
        QCOMPARE(d.keyAt(0), QStringLiteral("n"));
        QCOMPARE(d.statusLabel()->text(), QStringLiteral("Kept existing assignment on \"Weather\"."));
        QVERIFY(!d.isCaptureArmed());
        QCOMPARE(d.selectedRow(), -1);

        // Yes to every holder: the key moves.
        q.asked.clear();
        q.answers = {QMessageBox::Yes};
        d.onCellClicked(2, 0);
        QTest::keyClick(d.table(), Qt::Key_N);
        QCOMPARE(q.asked.size(), 1);
        QCOMPARE(d.keyAt(3), QString());
        QCOMPARE(d.keyAt(2), QStringLiteral("N"));
        QCOMPARE(cell(d, 2, 2), QStringLiteral("N"));

        // A closed box counts as No.
        q.asked.clear();
        q.answers = {QMessageBox::NoButton};
        d.onCellClicked(0, 0);
        QTest::keyClick(d.table(), Qt::Key_N);
        QCOMPARE(q.asked.size(), 1);
        QCOMPARE(d.keyAt(0), QStringLiteral("n"));
        QCOMPARE(d.keyAt(2), QStringLiteral("N"));

        d.accept();
        QCOMPARE(s.tabs[0].buttons[1].key, QString());
        QCOMPARE(s.tabs[1].buttons[0].key, QStringLiteral("N"));
        QCOMPARE(s.tabs[1].buttons[1].key, QString());
    }

    void autoAssignOverSixtyButtons()
    {
        Session s;
        for (int t = 0; t < 2; ++t) {
            TabData tab;
            tab.name = QStringLiteral("Tab %1").arg(t + 1);
            for (int i = 0; i < 36; ++i)
                tab.buttons << btn(i < 30 ? QStringLiteral("B%1-%2").arg(t).arg(i) : QString());
            s.tabs << tab;
        }
        s.tabs[1].buttons[20].key = QStringLiteral("1"); // row 50
        s.tabs[1].buttons[31].key = QStringLiteral("X"); // not listed
        const Session before = s;
        ShortcutsDialog d(s);
        QCOMPARE(d.rowCount(), 60);
        Questions q;

        q.answers = {QMessageBox::No};
        d.onAutoAssign();
        QCOMPARE(d.keyAt(0), QString());
        QCOMPARE(q.asked.size(), 1);
        QCOMPARE(q.asked[0].title, QStringLiteral("Auto-Assign"));
        QCOMPARE(q.asked[0].text,
                 QStringLiteral("Auto-assign will fill all named buttons with keyboard row keys (1-0, Q-P, A-L, "
                                "Z-M, F1-F12) in order.\n\nThis will overwrite existing shortcuts. Continue?"));

        d.onCellClicked(5, 0);
        q.answers = {QMessageBox::Yes};
        d.onAutoAssign();
        QCOMPARE(d.statusLabel()->text(), QStringLiteral("✓ Auto-assigned 48 keys."));
        QVERIFY(d.isCaptureArmed()); // a waiting row keeps waiting
        const QStringList& keys = ShortcutsDialog::autoKeys();
        QCOMPARE(keys.size(), 48);
        QCOMPARE(keys.mid(0, 12), (QStringList{"1", "2", "3", "4", "5", "6", "7", "8", "9", "0", "Q", "W"}));
        QCOMPARE(keys.mid(34, 3), (QStringList{"N", "M", "F1"}));
        for (int r = 0; r < 48; ++r) {
            QCOMPARE(d.keyAt(r), keys.at(r));
            QCOMPARE(cell(d, r, 2), keys.at(r));
        }
        for (int r = 48; r < 60; ++r)
            QCOMPARE(d.keyAt(r), r == 50 ? QStringLiteral("1") : QString());
        QCOMPARE(d.keyAt(47), QStringLiteral("F12"));

        // Not in the session until OK.
        QCOMPARE(s, before);
        d.accept();
        QCOMPARE(s.tabs[0].buttons[0].key, QStringLiteral("1"));
        QCOMPARE(s.tabs[1].buttons[17].key, QStringLiteral("F12")); // row 47
        QCOMPARE(s.tabs[1].buttons[20].key, QStringLiteral("1"));
        QCOMPARE(s.tabs[1].buttons[31].key, QStringLiteral("X"));
        // Only keys changed.
        Session keyless = s;
        Session beforeKeyless = before;
        for (Session* x : {&keyless, &beforeKeyless})
            for (TabData& t : x->tabs)
                for (ButtonData& b : t.buttons)
                    b.key.clear();
        QCOMPARE(keyless, beforeKeyless);

        // The keys that tabs' keys take are left out, naming the tabs, and
        // the rows take the next keys in the order; a tab key held with a
        // modifier leaves its key to the buttons.
        s.tabs[0].volDnKey = QStringLiteral("q");
        s.tabs[1].stopKey = QStringLiteral("F1");
        s.tabs[1].volUpKey = QStringLiteral("Ctrl+W");
        ShortcutsDialog again(s);
        q.answers = {QMessageBox::Yes};
        again.onAutoAssign();
        QCOMPARE(again.statusLabel()->text(),
                 QStringLiteral("✓ Auto-assigned 46 keys. Left out: Q (the volume down key of tab 'Tab 1'), F1 (the "
                                "Stop Tab key of tab 'Tab 2')."));
        QStringList free = keys;
        free.removeOne(QStringLiteral("Q"));
        free.removeOne(QStringLiteral("F1"));
        for (int r = 0; r < 46; ++r)
            QCOMPARE(again.keyAt(r), free.at(r));
        QCOMPARE(again.keyAt(10), QStringLiteral("W"));
        QCOMPARE(again.keyAt(46), QStringLiteral("F11")); // kept from the last time

        // Fewer rows than keys: a tab key past the last row given out was
        // never passed over, so it is not named.
        Session few = smallSession();
        few.tabs[0].stopKey = QStringLiteral("2");
        few.tabs[1].stopKey = QStringLiteral("F5");
        ShortcutsDialog fewRows(few);
        QCOMPARE(fewRows.rowCount(), 4);
        q.answers = {QMessageBox::Yes};
        fewRows.onAutoAssign();
        QCOMPARE(fewRows.statusLabel()->text(),
                 QStringLiteral("✓ Auto-assigned 4 keys. Left out: 2 (the Stop Tab key of tab 'Music')."));
        for (int r = 0; r < 4; ++r)
            QCOMPARE(fewRows.keyAt(r), (QStringList{"1", "3", "4", "5"}).at(r));
        few.tabs[0].stopKey.clear();
        ShortcutsDialog noneSkipped(few);
        q.answers = {QMessageBox::Yes};
        noneSkipped.onAutoAssign();
        QCOMPARE(noneSkipped.statusLabel()->text(), QStringLiteral("✓ Auto-assigned 4 keys."));
    }

    void clearAll()
    {
        Session s = smallSession();
        ShortcutsDialog d(s);
        Questions q;
        q.answers = {QMessageBox::No};
        d.onClearAll();
        QCOMPARE(d.keyAt(0), QStringLiteral("I"));
        QCOMPARE(q.asked[0].title, QStringLiteral("Clear All Shortcuts"));
        QCOMPARE(q.asked[0].text, QStringLiteral("Remove all keyboard shortcut assignments?"));
        q.answers = {QMessageBox::Yes};
        d.onClearAll();
        QCOMPARE(d.keyAt(0), QString());
        QCOMPARE(cell(d, 0, 2), QString());
        QCOMPARE(d.statusLabel()->text(), QStringLiteral("All shortcuts cleared."));
        d.done(QDialog::Accepted);
        QCOMPARE(s.tabs[0].buttons[0].key, QString());
        QCOMPARE(s.tabs[0].buttons[2].key, QStringLiteral("Z")); // not listed, not touched
    }

    void cancelLeavesTheSessionAlone()
    {
        Session s = smallSession();
        {
            ShortcutsDialog d(s);
            Questions q;
            q.answers = {QMessageBox::Yes, QMessageBox::Yes};
            d.onAutoAssign();
            d.onCellClicked(0, 0);
            QTest::keyClick(d.table(), Qt::Key_Backspace);
            d.reject();
        }
        QCOMPARE(s, smallSession());
        // Destroyed without any answer: the same.
        {
            ShortcutsDialog d(s);
            Questions q;
            q.answers = {QMessageBox::Yes};
            d.onClearAll();
        }
        QCOMPARE(s, smallSession());
    }
};

QTEST_MAIN(TstShortcuts)
#include "tst_shortcuts.moc"
