// The per-tab playback dialog: its overview of every tab, the override box,
// the device chooser, and what each way of closing it stores and saves.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QSet>
#include <QtTest>

#include "ChooserRows.h"
#include "TabEditSupport.h"
#include "TabPlaybackDialog.h"

using A = RoutingTestAccess;
using namespace RoutingTest;
using namespace TabEdit;

namespace {

QString cell(QGridLayout* grid, int row, int col)
{
    QLayoutItem* item = grid->itemAtPosition(row, col);
    auto* label = item ? qobject_cast<QLabel*>(item->widget()) : nullptr;
    return label ? label->text() : QString();
}

} // namespace

class TestTabPlayback : public QObject
{
    Q_OBJECT
    MainWindow* w = nullptr;
    RecordingEngines rec;
    QString file;

private slots:
    void initTestCase()
    {
        GridHeader::setDeviceLister([] {
            return QList<GridHeader::AudioOutput>{
                {QStringLiteral("Studio Monitors"), QByteArray("hw:studio")},
                {QStringLiteral("A very long name of a USB audio interface, channels 3 and 4"), QByteArray("hw:usb")},
                {QStringLiteral("Null Output"), QByteArray("hw:null-b")},
                {QStringLiteral("Null Output"), QByteArray("hw:null-a")},
                {QStringLiteral("Family 17h/19h HD Audio Controller Analog Stereo"), QByteArray("hw:analog")},
                {QStringLiteral("Family 17h/19h HD Audio Controller Digital Stereo"), QByteArray("hw:digital")},
                {QStringLiteral("Family 17h/19h HD Audio Controller Analog Surround 5.1"), QByteArray("hw:51")},
                {QStringLiteral("Family 17h/19h HD Audio Controller Analog Surround 7.1"), QByteArray("hw:71")},
                {QStringLiteral("Twin"), QByteArray("hw:tw-b")},
                {QStringLiteral("Twin (1)"), QByteArray("hw:tw-c")},
                {QStringLiteral("Twin"), QByteArray("hw:tw-a")},
                {QStringLiteral("Default Output (follows toolbar)"), QByteArray("hw:odd")},
                {QStringLiteral("USB Audio Interface Outputs 1+2"), QByteArray("hw:usb-12")},
                {QStringLiteral("USB Audio Interface Outputs 3+4"), QByteArray("hw:usb-34")},
                {QStringLiteral("Stage Monitor 👍🏽👍🏽👍🏽👍🏽👍🏽👍🏽👍🏽 wedge"), QByteArray("hw:wedge")}};
        });
        w = windowOn(rec);
        file = QDir(TestSupport::tempDir()).filePath(QStringLiteral("rules.vx"));
    }
    void cleanupTestCase()
    {
        closeWindow(w);
        GridHeader::setDeviceLister(nullptr);
    }

    void overviewTexts_data()
    {
        QTest::addColumn<bool>("own");
        QTest::addColumn<bool>("as");
        QTest::addColumn<bool>("rs");
        QTest::addColumn<bool>("cts");
        QTest::addColumn<QString>("rules");
        QTest::newRow("global") << false << true << true << true << "Global";
        QTest::newRow("none set") << true << false << false << false << "Custom (none)";
        QTest::newRow("all set") << true << true << true << true << "AS + RS + CTS";
        QTest::newRow("two set") << true << true << false << true << "AS + CTS";
    }
    void overviewTexts()
    {
        QFETCH(bool, own);
        QFETCH(bool, as);
        QFETCH(bool, rs);
        QFETCH(bool, cts);
        QFETCH(QString, rules);
        TabData t;
        t.useTabPb = own;
        t.pb_as = as;
        t.pb_rs = rs;
        t.pb_cts = cts;
        QCOMPARE(TabPlaybackDialog::rulesText(t), rules);
    }

    // The OUTPUT column of a tab, beside another tab's output: a listed
    // output by its name, an unplugged one by its id, "(not connected)" as
    // the device chooser says, never two alike.
    void outputTexts_data()
    {
        QTest::addColumn<QString>("card");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("other");   // the other tab's output
        QTest::addColumn<QString>("tip");
        QTest::newRow("none") << "" << "Default" << "" << "";
        QTest::newRow("20 characters") << "abcdefghijklmnopqrst" << "abcdefghijklmnopqrst  (not connected)" << ""
                                       << "abcdefghijklmnopqrst  (not connected)";
        QTest::newRow("45 characters") << "abcdefghijklmnopqrstuvwxyzabcdefghijklmnopqrs"
                                       << "abcdefghijklmnopqrstuvwxyzabcdefghijk...  (not connected)" << ""
                                       << "abcdefghijklmnopqrstuvwxyzabcdefghijklmnopqrs  (not connected)";
        QTest::newRow("analog and digital of one card")
            << "hw:analog" << "Family 17h/19h HD Audio...Analog Stereo" << "hw:digital"
            << "Family 17h/19h HD Audio Controller Analog Stereo — hw:analog";
        QTest::newRow("two outputs of one description") << "hw:null-a" << "Null Output (1)" << "hw:null-b"
                                                        << "Null Output — hw:null-a";
        QTest::newRow("two unplugged outputs of one card")
            << "alsa_output.usb-Focusrite_Scarlett_2i2_USB-00.analog-stereo"
            << "alsa_output.usb-Focusrit...analog-stereo  (not connected)"
            << "alsa_output.usb-Focusrite_Scarlett_2i2_USB-00.iec958-stereo"
            << "alsa_output.usb-Focusrite_Scarlett_2i2_USB-00.analog-stereo  (not connected)";
    }
    void outputTexts()
    {
        QFETCH(QString, card);
        QFETCH(QString, shown);
        QFETCH(QString, other);
        QFETCH(QString, tip);
        if (other.isEmpty())
            QCOMPARE(TabPlaybackDialog::outputText(card, OutputChoices::outputs()), shown);
        TabData mine, theirs;
        mine.soundCard = card;
        theirs.soundCard = other;
        const QList<TabPlaybackDialog::OutputCell> cells =
            TabPlaybackDialog::outputCells({mine, theirs}, OutputChoices::outputs());
        QCOMPARE(cells.at(0).text, shown);
        QCOMPARE(cells.at(0).tip, tip);
        if (card != other)
            QVERIFY(cells.at(0).text != cells.at(1).text);
    }

    // Five tabs: three in the left grid, two in the right; the edited one
    // marked; the device chooser lists the outputs and selects the tab's.
    void layout()
    {
        Session s = board(5);
        s.tabs[3].name = QStringLiteral("<b>&amp;");
        s.tabs[3].soundCard = QStringLiteral("hw:usb");
        s.tabs[3].useTabPb = true;
        s.tabs[3].pb_as = s.tabs[3].pb_rs = s.tabs[3].pb_cts = false;
        TabPlaybackDialog d(s, 3);
        QGridLayout* left = d.overviewGrid(0);
        QGridLayout* right = d.overviewGrid(1);
        QCOMPARE(left->rowCount(), 4);
        QCOMPARE(right->rowCount(), 3);
        QCOMPARE(cell(left, 0, 1), QStringLiteral("PLAYBACK"));
        QCOMPARE(cell(left, 3, 0), QStringLiteral("● Tab 3"));
        QCOMPARE(cell(right, 1, 0), QStringLiteral("● ▶ <b>&amp;"));
        QCOMPARE(cell(right, 1, 1), QStringLiteral("Custom (none)"));
        QCOMPARE(cell(right, 1, 2), QStringLiteral("A very long name of a USB audio inter..."));
        QCOMPARE(d.windowTitle(), QStringLiteral("Playback Settings — <b>&amp;"));
        // The title label's markup shows the name as typed.
        const QList<QLabel*> labels = d.findChildren<QLabel*>();
        QVERIFY(std::any_of(labels.begin(), labels.end(), [](QLabel* l) {
            return l->textFormat() == Qt::RichText && l->text().contains(QLatin1String("&lt;b&gt;&amp;amp;"));
        }));
        QCOMPARE(d.deviceCombo()->count(), 16);
        QCOMPARE(d.deviceCombo()->currentIndex(), 2);
        QCOMPARE(d.deviceCombo()->itemText(2), QStringLiteral("🔊  A very long name of a USB audio inter..."));
        // Two outputs of one description, named apart by their ids' order.
        QCOMPARE(d.deviceCombo()->itemText(3), QStringLiteral("🔊  Null Output (2)"));
        QCOMPARE(d.deviceCombo()->itemText(4), QStringLiteral("🔊  Null Output (1)"));
        // Names cut alike keep the end where they differ; a number never
        // reads as another entry. The music panel's chooser, narrower, too.
        const QStringList dialogRows{
            "Family 17h/19h HD Audio...Analog Stereo", "Family 17h/19h HD Audio Controller Di...",
            "Family 17h/19h HD Audio...Surround 5.1", "Family 17h/19h HD Audio...Surround 7.1",
            "Twin (3)", "Twin (1)", "Twin (2)", "Default Output (follows toolbar) (1)"};
        const QStringList musicRows{
            "Family 17h/19h...Analog Stereo", "Family 17h/19h...Digital Stereo",
            "Family 17h/19h HD...Surround 5.1", "Family 17h/19h HD...Surround 7.1",
            "Twin (3)", "Twin (1)", "Twin (2)", "Default Output (follows toolbar)"};
        for (int i = 0; i < dialogRows.size(); ++i) {
            QCOMPARE(d.deviceCombo()->itemText(5 + i), QStringLiteral("🔊  ") + dialogRows[i]);
            QCOMPARE(w->musicDevCombo->itemText(5 + i), musicRows[i]);
        }
        QCOMPARE(w->musicDevCombo->itemData(8, Qt::ToolTipRole).toString(),
                 QStringLiteral("Family 17h/19h HD Audio Controller Analog Surround 7.1 — hw:71"));
        for (QComboBox* chooser : {static_cast<QComboBox*>(d.deviceCombo()), w->musicDevCombo}) {
            QSet<QString> rows;
            for (int i = 0; i < chooser->count(); ++i)
                rows.insert(chooser->itemText(i));
            QCOMPARE(rows.size(), chooser->count());
        }
        // Each chooser as the user sees it, closed and open; the music
        // panel's box shows fewer characters than its list holds.
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        auto* music = qobject_cast<OutputChooser*>(w->musicDevCombo);
        QVERIFY(music->closedTextWidth() < music->fontMetrics().horizontalAdvance(music->itemText(13)));
        for (OutputChooser* chooser : {d.deviceCombo(), music, A::panels(w)[0].header->deviceCombo()}) {
            const QStringList faults = TestSupport::chooserFaults(chooser);
            QVERIFY2(faults.isEmpty(), qPrintable(chooser->objectName() + ": " + faults.join('\n')));
        }
        QVERIFY(d.overrideBox()->isChecked());
        QVERIFY(!d.ruleBox(0)->isChecked() && !d.ruleBox(1)->isChecked() && !d.ruleBox(2)->isChecked());
        QVERIFY(d.ruleBox(0)->isEnabled());
    }

    // Turning the override on starts the rules from the global ones, whatever
    // the tab had stored.
    void overrideResetsToGlobal()
    {
        Session s = board(2);
        s.autoStop = true;
        s.restart = false;
        s.crossTabStop = true;
        s.tabs[1].pb_as = false;
        s.tabs[1].pb_rs = true;
        s.tabs[1].pb_cts = false;
        TabPlaybackDialog d(s, 1);
        QVERIFY(!d.ruleBox(0)->isEnabled());
        // Not overriding: the boxes show the global rules.
        QCOMPARE(d.ruleBox(1)->isChecked(), false);
        d.ruleBox(1)->setChecked(true);
        d.overrideBox()->setChecked(true);
        QVERIFY(d.ruleBox(0)->isEnabled());
        QCOMPARE(d.autoStop(), true);
        QCOMPARE(d.restart(), false);
        QCOMPARE(d.crossTabStop(), true);
    }

    void closing_data()
    {
        QTest::addColumn<QString>("button"); // "Esc": the key, not a button
        QTest::addColumn<QString>("cardBefore");
        QTest::addColumn<int>("pick");       // the device item chosen; -1: the chooser is left alone
        QTest::addColumn<bool>("hasFile");
        QTest::addColumn<bool>("useTabPb");
        QTest::addColumn<bool>("as");
        QTest::addColumn<QString>("card");
        QTest::addColumn<bool>("saved");
        QTest::newRow("cancel") << "Cancel" << "hw:studio" << 2 << true << true << false << "hw:studio" << false;
        QTest::newRow("escape") << "Esc" << "hw:studio" << 2 << true << true << false << "hw:studio" << false;
        QTest::newRow("cancel, never saved") << "Cancel" << "hw:studio" << 2 << false << true << false << "hw:studio"
                                             << false;
        QTest::newRow("use global") << "Use Global" << "hw:studio" << 2 << true << false << false << "hw:studio"
                                    << true;
        QTest::newRow("apply") << "Apply" << "hw:studio" << 2 << true << true << true << "hw:usb" << true;
        QTest::newRow("unplugged, apply") << "Apply" << "hw:gone" << -1 << true << true << true << "hw:gone" << true;
        QTest::newRow("unplugged, another picked") << "Apply" << "hw:gone" << 1 << true << true << true << "hw:studio"
                                                   << true;
        QTest::newRow("unplugged, default picked") << "Apply" << "hw:gone" << 0 << true << true << true << "" << true;
        QTest::newRow("apply, the second of two alike") << "Apply" << "hw:studio" << 4 << true << true << true
                                                        << "hw:null-a" << true;
    }
    void closing()
    {
        QFETCH(QString, button);
        QFETCH(QString, cardBefore);
        QFETCH(int, pick);
        QFETCH(bool, hasFile);
        QFETCH(bool, useTabPb);
        QFETCH(bool, as);
        QFETCH(QString, card);
        QFETCH(bool, saved);
        Session s = board(3);
        s.tabs[1].useTabPb = true;
        s.tabs[1].pb_as = false;
        s.tabs[1].soundCard = cardBefore;
        s.filePath = hasFile ? file : QString();
        QFile::remove(file);
        load(s);
        session().tabs[0].name = QStringLiteral("edited, not saved");
        SessionManager::instance()->setDirty(true);
        A::toggle(w, 0)->setChecked(false);
        QString shownDevice;
        Script script;
        script.answers.append([&](const Modal::Request& r) {
            auto* d = qobject_cast<TabPlaybackDialog*>(r.dialog);
            shownDevice = d->deviceCombo()->currentText();
            d->ruleBox(0)->setChecked(true);
            if (pick >= 0)
                d->deviceCombo()->setCurrentIndex(pick);
            if (button == QLatin1String("Esc"))
                QTest::keyClick(d, Qt::Key_Escape);
            for (QPushButton* b : d->findChildren<QPushButton*>())
                if (b->text() == button)
                    b->click();
            return QVariant(d->result());
        });
        emit A::panels(w)[1].header->playbackSettingsRequested();
        // An unplugged device stays listed, and chosen, as the tab's own.
        if (cardBefore == QLatin1String("hw:gone"))
            QCOMPARE(shownDevice, QStringLiteral("🔊  hw:gone  (not connected)"));
        // Only the dialog itself was asked: no Save As, whatever the button.
        QCOMPARE(script.asked.size(), 1);
        const TabData& t = session().tabs[1];
        QCOMPARE(t.useTabPb, useTabPb);
        QCOMPARE(t.pb_as, as);
        QCOMPARE(t.soundCard, card);
        QCOMPARE(A::currentTab(w), 1);
        // Closed without a change, nothing is written and the edits stay unsaved.
        QCOMPARE(QFileInfo::exists(file), saved);
        QCOMPARE(SessionManager::instance()->isDirty(), !saved);
        // The toolbar keeps the global rule.
        QVERIFY(!A::toggle(w, 0)->isChecked());
        if (card != QLatin1String("hw:gone"))
            QCOMPARE(A::panels(w)[1].header->deviceCombo()->currentData().toString(), card);
    }

    void invalidTabOpensNothing()
    {
        load(board(2));
        Script script;
        w->showTabPlaybackDialog(2);
        w->showTabPlaybackDialog(-1);
        QVERIFY(script.asked.isEmpty());
    }
};

QTEST_MAIN(TestTabPlayback)
#include "tst_tab_playback.moc"
