#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSet>
#include <QSignalSpy>
#include <QSlider>
#include <QtTest>

#include "ChooserRows.h"
#include "GridHeader.h"
#include "GridTestUtil.h"
#include "TestSupport.h"
#include "ThemeManager.h"

using namespace GridTest;

// Answers the header's menus: records what was shown and picks an entry by
// text; answers input dialogs with a text or Cancel.
struct MenuAnswer
{
    QStringList texts;
    QStringList headings;
    QStringList checked;
    QString choose;
    QVariant typed;             // invalid: Cancel
    Modal::Request lastText;
    int menus = 0;

    Modal::Handler handler()
    {
        return [this](const Modal::Request& r) -> QVariant {
            if (r.kind == Modal::Kind::Text) {
                lastText = r;
                return typed;
            }
            if (r.kind != Modal::Kind::Menu)
                return QVariant();
            ++menus;
            texts = menuTexts(r.menu);
            headings = shownHeadings(r.menu);
            checked.clear();
            for (QAction* a : r.menu->actions())
                if (a->isChecked())
                    checked << a->text();
            return QVariant::fromValue(actionByText(r.menu, choose));
        };
    }
};

class TstGridHeader : public QObject
{
    Q_OBJECT

    static QList<GridHeader::AudioOutput> fakeDevices()
    {
        return {{QString("Speakers"), QByteArray("dev-a")},
                {QString(30, QChar('x')), QByteArray("dev-thirty")},
                {QString("0123456789012345678901234567890"), QByteArray("dev-long")},
                // Two sinks of one description, listed against their ids' order.
                {QString("Null Output"), QByteArray("tr_rec")},
                {QString("Null Output"), QByteArray("tr_null")},
                // Alike up to the cut.
                {QString("Family 17h/19h HD Audio Controller Analog Stereo"), QByteArray("pci.analog")},
                {QString("Family 17h/19h HD Audio Controller Digital Stereo"), QByteArray("pci.digital")},
                // One the system itself numbers beside two it does not.
                {QString("Twin"), QByteArray("tw-b")},
                {QString("Twin (1)"), QByteArray("tw-c")},
                {QString("Twin"), QByteArray("tw-a")},
                // One named as the default row.
                {QString("Default"), QByteArray("dev-default")},
                // Alike but for their ends, too wide for the closed box.
                {QString("USB Audio Interface Outputs 1+2"), QByteArray("usb-12")},
                {QString("USB Audio Interface Outputs 3+4"), QByteArray("usb-34")},
                {QString("Studio Headphone Amplifier A"), QByteArray("amp-a")},
                {QString("Studio Headphone Amplifier B"), QByteArray("amp-b")},
                // Emoji with a skin tone where the list cuts and where the
                // closed box does.
                {QString("👍🏽👍🏽👍🏽👍🏽👍🏽👍🏽👍🏽 Stage Monitor"), QByteArray("wedge")}};
    }

private slots:
    void initTestCase() { GridHeader::setDeviceLister(&TstGridHeader::fakeDevices); }
    void cleanupTestCase() { GridHeader::setDeviceLister(nullptr); }

    void constructionAndTexts()
    {
        GridHeader h("Jingles", QColor("#123456"));
        QCOMPARE(h.objectName(), QString("gridHeader"));
        QCOMPARE(h.nameLabel()->text(), QString("Jingles"));
        QCOMPARE(h.nameLabel()->textFormat(), Qt::PlainText);
        QVERIFY(h.dot()->styleSheet().contains("#123456"));
        QCOMPARE(h.volumeLabel()->text(), QString("100%"));
        QCOMPARE(h.volume(), 1.0);
        QCOMPARE(h.gearButton()->toolTip(), QString("Playback Settings (AS / RS / CTS)"));
        QVERIFY(!h.tabCombo()->isHidden());   // until the first tab list
        h.setTabName("Other");
        QCOMPARE(h.nameLabel()->text(), QString("Other"));

        // A name longer than its room (a narrow 2 x 2 pane) ends in "…" and is
        // whole in the tool tip; a short one has no tip.
        h.resize(200, h.sizeHint().height());
        h.show();
        QVERIFY(QTest::qWaitForWindowExposed(&h));
        for (const QString& name : {QString("Morning Show Openers and Beds"), QString("Am")}) {
            h.setTabName(name);
            QCoreApplication::processEvents();
            QLabel* title = h.nameLabel();
            const bool longer = title->fontMetrics().horizontalAdvance(name) > title->contentsRect().width();
            QCOMPARE(longer, name.size() > 2);
            QCOMPARE(title->text(), name);
            QTRY_COMPARE(title->toolTip(), longer ? name : QString());
        }
        h.hide();
        h.setTabName("Other");

        // Device chooser: Default first, long descriptions cut at 27 characters.
        QComboBox* dev = h.deviceCombo();
        QCOMPARE(dev->count(), 17);
        QCOMPARE(dev->itemText(0), QString("Default"));
        QCOMPARE(dev->itemData(0).toString(), QString());
        QCOMPARE(dev->itemText(2), QString(30, QChar('x')));
        QCOMPARE(dev->itemText(3), QString("012345678901234567890123456..."));
        QCOMPARE(dev->itemData(3).toString(), QString("dev-long"));
        QCOMPARE(dev->currentIndex(), 0);
        // Outputs of one description are told apart, numbered by their ids.
        QCOMPARE(dev->itemText(4), QString("Null Output (2)"));
        QCOMPARE(dev->itemText(5), QString("Null Output (1)"));
        QCOMPARE(dev->itemData(5, Qt::ToolTipRole).toString(), QString("Null Output — tr_null"));
        // Names cut alike keep the end where they differ; a number never
        // reads as another entry; no two rows read alike.
        QCOMPARE(dev->itemText(6), QString("Family 17h/19h...Analog Stereo"));
        QCOMPARE(dev->itemText(7), QString("Family 17h/19...Digital Stereo"));
        QCOMPARE(dev->itemData(7, Qt::ToolTipRole).toString(),
                 QString("Family 17h/19h HD Audio Controller Digital Stereo — pci.digital"));
        QCOMPARE(dev->itemText(8), QString("Twin (3)"));
        QCOMPARE(dev->itemText(9), QString("Twin (1)"));
        QCOMPARE(dev->itemText(10), QString("Twin (2)"));
        QCOMPARE(dev->itemText(11), QString("Default (1)"));
        QSet<QString> rows;
        for (int i = 0; i < dev->count(); ++i) {
            QVERIFY2(dev->itemText(i).size() <= 30, qPrintable(dev->itemText(i)));
            rows.insert(dev->itemText(i));
        }
        QCOMPARE(rows.size(), dev->count());
        QCOMPARE(dev->itemText(16), QString("👍🏽👍🏽👍🏽👍🏽👍🏽👍🏽..."));
        // As wide as a header lets it be, the box is still too narrow for
        // most names: closed, they are cut where they read apart.
        QWidget pane;
        auto* paneRow = new QHBoxLayout(&pane);
        paneRow->addWidget(new GridHeader("Jingles", QColor("#123456"), &pane));
        pane.resize(1200, 60);
        pane.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pane));
        OutputChooser* wide = pane.findChild<GridHeader*>()->deviceCombo();
        QVERIFY(wide->closedTextWidth() < wide->fontMetrics().horizontalAdvance(wide->itemText(12)));
        const QStringList faults = TestSupport::chooserFaults(wide);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
        // However narrow the box, an emoji keeps its skin tone.
        wide->setCurrentIndex(16);
        for (int width = 60; width <= 160; ++width) {
            wide->resize(width, wide->height());
            QVERIFY2(TestSupport::wholeCharsOf(wide->closedText(), wide->wholeName(16)), qPrintable(wide->closedText()));
        }

        // An invalid tab colour shows the accent.
        const QString accent = ThemeManager::instance()->colors().accent.name();
        GridHeader plain("T", QColor());
        QVERIFY(plain.dot()->styleSheet().contains(accent));
        plain.setTabColor(QColor(Qt::red));
        QCOMPARE(plain.dot()->styleSheet(), QString("background:#ff0000;border-radius:5px;border:none;"));
        plain.setTabColor(QColor());
        QCOMPARE(plain.dot()->styleSheet(), QString("background:%1;border-radius:5px;border:none;").arg(accent));
    }

    void fadeLabelAndMenu()
    {
        GridHeader h("T", QColor());
        const ThemeColors& tc = ThemeManager::instance()->colors();
        QCOMPARE(h.fadeButton()->text(), QString("No fade  ▾"));
        QVERIFY(h.fadeButton()->styleSheet().contains("background:" + tc.surface.name() + ";color:" + tc.textSecondary.name() + ";"));
        const QList<QPair<double, QString>> labels = {
            {100, "0.1s  ▾"}, {1500, "1.5s  ▾"}, {2500, "2.5s  ▾"}, {3000, "3s  ▾"}, {750, "0.75s  ▾"}};
        for (const auto& [ms, text] : labels) {
            h.setFadeMs(ms);
            QCOMPARE(h.fadeButton()->text(), text);
        }
        // An active fade: readable text, the accent in the border.
        QVERIFY(h.fadeButton()->styleSheet().contains(";color:" + tc.text.name() + ";"));
        QVERIFY(h.fadeButton()->styleSheet().contains("solid " + tc.accent.name() + ";"));
        h.m_fadeMs = -5;
        h.updateFadeLabel();
        QCOMPARE(h.fadeButton()->text(), QString("No fade  ▾"));

        MenuAnswer ans;
        TestSupport::ModalScript script(ans.handler());
        QSignalSpy fade(&h, &GridHeader::fadeChanged);
        h.setFadeMs(2500.4);
        h.fadeButton()->click();
        QCOMPARE(ans.texts, QStringList({"No fade", "0.1s", "0.2s", "0.3s", "0.4s", "0.5s", "1s", "1.5s", "2s", "2.5s",
                                         "3s"}));
        QCOMPARE(ans.checked, QStringList({"2.5s"}));
        h.setFadeMs(750);   // not a preset: nothing checked
        h.fadeButton()->click();
        QVERIFY(ans.checked.isEmpty());
        QCOMPARE(fade.size(), 0);

        ans.choose = "1.5s";
        h.fadeButton()->click();
        QCOMPARE(fade.size(), 1);
        QCOMPARE(fade.first().at(0).toDouble(), 1500.0);
        QCOMPARE(h.fadeMs(), 1500.0);
        QCOMPARE(h.fadeButton()->text(), QString("1.5s  ▾"));
        ans.choose = "No fade";
        h.fadeButton()->click();
        QCOMPARE(fade.last().at(0).toDouble(), 0.0);
        QCOMPARE(h.fadeButton()->text(), QString("No fade  ▾"));
    }

    void tabListAndDeviceChoosers()
    {
        GridHeader h("T", QColor());
        QSignalSpy tabSwitch(&h, &GridHeader::tabSwitchRequested);
        QSignalSpy device(&h, &GridHeader::deviceChanged);

        h.setTabList({"One"}, 0);
        QVERIFY(h.tabCombo()->isHidden());
        h.setTabList({"One", "Two"}, 1);
        QVERIFY(!h.tabCombo()->isHidden());
        QCOMPARE(h.tabCombo()->currentIndex(), 1);
        h.setTabList({"A", "B", "C"}, 5);
        QCOMPARE(h.tabCombo()->currentIndex(), 2);
        h.setTabList({"A", "B", "C"}, -1);
        QCOMPARE(h.tabCombo()->currentIndex(), 0);
        h.setTabList({}, 3);
        QCOMPARE(h.tabCombo()->count(), 0);
        QCOMPARE(h.tabCombo()->currentIndex(), -1);
        QVERIFY(h.tabCombo()->isHidden());
        QCOMPARE(tabSwitch.size(), 0);
        h.setTabList({"A", "B", "C"}, 0);
        h.tabCombo()->setCurrentIndex(2);   // the user's choice
        QCOMPARE(tabSwitch.size(), 1);
        QCOMPARE(tabSwitch.first().at(0).toInt(), 2);

        h.setCurrentDevice("dev-long");
        QCOMPARE(h.deviceCombo()->currentIndex(), 3);
        h.setCurrentDevice("unplugged");
        QCOMPARE(h.deviceCombo()->currentIndex(), 0);
        QCOMPARE(device.size(), 0);
        h.deviceCombo()->setCurrentIndex(1);
        QCOMPARE(device.size(), 1);
        QCOMPARE(device.first().at(0).toString(), QString("dev-a"));
        h.deviceCombo()->setCurrentIndex(0);
        QCOMPARE(device.last().at(0).toString(), QString());

        QCOMPARE(GridHeader::deviceItemText(QString(31, 'y')), QString(27, 'y') + "...");
        QCOMPARE(GridHeader::deviceItemText(QString(30, 'y')), QString(30, 'y'));
    }

    void buttonsAndVolume()
    {
        GridHeader h("T", QColor());
        QSignalSpy stop(&h, &GridHeader::stopClicked);
        QSignalSpy gear(&h, &GridHeader::playbackSettingsRequested);
        QSignalSpy vol(&h, &GridHeader::volumeChanged);
        h.stopButton()->click();
        h.gearButton()->click();
        QCOMPARE(stop.size(), 1);
        QCOMPARE(gear.size(), 1);

        h.m_volSlider->setValue(37);
        QCOMPARE(h.volumeLabel()->text(), QString("37%"));
        QCOMPARE(vol.last().at(0).toDouble(), 0.37);
        QCOMPARE(h.volume(), 0.37);

        // The window sets the slider with signals blocked: no volumeChanged.
        h.m_volSlider->blockSignals(true);
        h.m_volSlider->setValue(80);
        h.m_volSlider->blockSignals(false);
        QCOMPARE(vol.size(), 1);

        // Playing look: stronger accent background; idle again after.
        const QColor a = ThemeManager::instance()->colors().accent;
        const QString rgb = QString("%1,%2,%3").arg(a.red()).arg(a.green()).arg(a.blue());
        h.setPlaying(true);
        QVERIFY(h.stopButton()->styleSheet().startsWith("QPushButton{background:rgba(" + rgb + ",0.35);"));
        h.setPlaying(false);
        QVERIFY(h.stopButton()->styleSheet().startsWith("QPushButton{background:rgba(" + rgb + ",0.12);"));
    }

    void stopTabMenu()
    {
        GridHeader h("T", QColor());
        MenuAnswer ans;
        TestSupport::ModalScript script(ans.handler());
        QSignalSpy key(&h, &GridHeader::stopShortcutChanged);
        QSignalSpy note(&h, &GridHeader::stopMidiNoteChanged);
        QSignalSpy learn(&h, &GridHeader::midiLearnRequested);
        auto open = [&] { emit h.stopButton()->customContextMenuRequested(QPoint(2, 2)); };

        open();
        QCOMPARE(ans.texts, QStringList({"Tab Stop — Assign Trigger", "Assign Keyboard Shortcut",
                                         "MIDI Learn — Stop Tab"}));
        QCOMPARE(ans.headings, QStringList({"Tab Stop — Assign Trigger"}));

        // A shortcut of spaces is stored and sent empty; Cancel changes nothing.
        ans.choose = "Assign Keyboard Shortcut";
        ans.typed = QString("   ");
        open();
        QCOMPARE(ans.lastText.title, QString("Assign Keyboard Shortcut"));
        QCOMPARE(ans.lastText.label, QString("Enter shortcut key for Stop Tab\n(e.g. Shift+F1, Alt+1, Alt+S):"));
        QCOMPARE(key.size(), 1);
        QCOMPARE(key.last().at(0).toString(), QString());
        ans.typed = QString(" F7 ");
        open();
        QCOMPARE(h.m_stopKey, QString("F7"));
        QCOMPARE(key.last().at(0).toString(), QString("F7"));
        ans.typed = QVariant();
        open();
        QCOMPARE(ans.lastText.text, QString("F7"));   // pre-filled
        QCOMPARE(key.size(), 2);
        QCOMPARE(h.m_stopKey, QString("F7"));

        ans.choose = "MIDI Learn — Stop Tab";
        open();
        QCOMPARE(learn.last().at(0).toString(), QString("__tab_stop__"));

        h.m_stopMidiNote = 36;
        ans.choose.clear();
        open();
        QCOMPARE(ans.texts.mid(3), QStringList({"-", "Clear shortcut  [F7]", "Clear MIDI  [note 36]"}));
        ans.choose = "Clear MIDI  [note 36]";
        open();
        QCOMPARE(note.last().at(0).toInt(), -1);
        QCOMPARE(h.m_stopMidiNote, -1);
        ans.choose = "Clear shortcut  [F7]";
        open();
        QCOMPARE(key.last().at(0).toString(), QString());
        QVERIFY(h.m_stopKey.isEmpty());
        ans.choose.clear();
        open();
        QCOMPARE(ans.texts.size(), 3);
    }

    void volumeMenu()
    {
        GridHeader h("T", QColor());
        MenuAnswer ans;
        TestSupport::ModalScript script(ans.handler());
        QSignalSpy vol(&h, &GridHeader::volumeChanged);
        QSignalSpy keys(&h, &GridHeader::volShortcutChanged);
        QSignalSpy cc(&h, &GridHeader::volMidiCCChanged);
        QSignalSpy learn(&h, &GridHeader::midiLearnRequested);
        auto open = [&] { emit h.m_volSlider->customContextMenuRequested(QPoint(2, 2)); };

        open();
        QCOMPARE(ans.texts, QStringList({"Tab Volume — Assign Trigger", "MIDI Learn — Volume CC",
                                         "Assign Shortcut — Volume Up", "Assign Shortcut — Volume Down", "-",
                                         "Reset to 100%"}));
        QCOMPARE(ans.headings, QStringList({"Tab Volume — Assign Trigger"}));
        ans.choose = "Reset to 100%";
        open();
        QCOMPARE(vol.size(), 0);   // already at 100
        h.m_volSlider->setValue(40);
        open();
        QCOMPARE(vol.last().at(0).toDouble(), 1.0);
        QCOMPARE(h.volumeLabel()->text(), QString("100%"));

        ans.choose = "MIDI Learn — Volume CC";
        open();
        QCOMPARE(learn.last().at(0).toString(), QString("__tab_vol__"));

        ans.choose = "Assign Shortcut — Volume Up";
        ans.typed = QString(" Ctrl+Up");
        open();
        QCOMPARE(ans.lastText.title, QString("Volume Up Shortcut"));
        QCOMPARE(ans.lastText.label, QString("Key to increase this tab's volume\n(e.g. Ctrl+Up, Alt+PgUp):"));
        QCOMPARE(keys.last(), QVariantList({QString("Ctrl+Up"), QString()}));
        ans.choose = "Assign Shortcut — Volume Down";
        ans.typed = QString("Ctrl+Down");
        open();
        QCOMPARE(ans.lastText.title, QString("Volume Down Shortcut"));
        QCOMPARE(keys.last(), QVariantList({QString("Ctrl+Up"), QString("Ctrl+Down")}));
        ans.typed = QVariant();
        open();
        QCOMPARE(keys.size(), 2);

        h.m_volCC = 7;
        ans.choose.clear();
        open();
        QCOMPARE(ans.texts.mid(6), QStringList({"-", "Clear MIDI CC  [CC 7]", "Clear volume shortcuts"}));
        ans.choose = "Clear MIDI CC  [CC 7]";
        open();
        QCOMPARE(cc.last().at(0).toInt(), -1);
        QCOMPARE(h.m_volCC, -1);
        ans.choose = "Clear volume shortcuts";
        open();
        QCOMPARE(keys.last(), QVariantList({QString(), QString()}));
        QVERIFY(h.m_volUpKey.isEmpty() && h.m_volDnKey.isEmpty());
        ans.choose.clear();
        open();
        QCOMPARE(ans.texts.size(), 6);
    }

    void themeChangeRestyles()
    {
        ThemeManager::instance()->applyPreset(ThemeManager::Dark);
        GridHeader h("T", QColor());
        h.setFadeMs(500);
        ThemeManager::instance()->applyPreset(ThemeManager::LightBlue);
        h.applyTheme();
        const ThemeColors& tc = ThemeManager::instance()->colors();
        QCOMPARE(h.nameLabel()->styleSheet(), QString("color:%1;font-size:11px;font-weight:600;").arg(tc.text.name()));
        QVERIFY(h.dot()->styleSheet().contains(tc.accent.name()));
        QVERIFY(h.gearButton()->styleSheet().contains("background:" + tc.surfaceAlt.name()));
        QVERIFY(h.fadeButton()->styleSheet().contains("solid " + tc.accent.name() + ";"));
        QVERIFY(h.stopButton()->styleSheet().contains(QString("rgba(%1,").arg(tc.accent.red())));
        ThemeManager::instance()->applyPreset(ThemeManager::Dark);
    }
};

QTEST_MAIN(TstGridHeader)
#include "tst_gridheader.moc"
