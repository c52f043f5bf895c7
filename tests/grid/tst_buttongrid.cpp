#include <QBuffer>
#include <QDir>
#include <QGridLayout>
#include <QScrollArea>
#include <QSet>
#include <QSignalSpy>
#include <QScrollBar>
#include <QtTest>

#include "ButtonGrid.h"
#include "GridTestUtil.h"
#include "SoundButton.h"
#include "TestSupport.h"
#include "ThemeManager.h"

using namespace GridTest;

namespace {

struct Cell
{
    int row = -1, col = -1, rowSpan = 0, colSpan = 0;
    bool operator==(const Cell&) const = default;
};

Cell cellOf(ButtonGrid& g, int padIndex)
{
    Cell c;
    const int idx = g.gridLayout()->indexOf(g.buttonWidget(padIndex));
    if (idx >= 0)
        g.gridLayout()->getItemPosition(idx, &c.row, &c.col, &c.rowSpan, &c.colSpan);
    return c;
}

// Every pad placed, and no grid cell covered twice.
bool noOverlap(ButtonGrid& g, QString* why)
{
    QSet<QPair<int, int>> seen;
    for (int i = 0; i < g.buttonCount(); ++i) {
        const Cell c = cellOf(g, i);
        if (c.row < 0) {
            *why = QString("pad %1 not placed").arg(i);
            return false;
        }
        for (int r = c.row; r < c.row + c.rowSpan; ++r)
            for (int k = c.col; k < c.col + c.colSpan; ++k) {
                if (seen.contains({r, k})) {
                    *why = QString("pad %1 overlaps at %2,%3").arg(i).arg(r).arg(k);
                    return false;
                }
                if (k >= g.layoutColumns()) {
                    *why = QString("pad %1 outside the columns").arg(i);
                    return false;
                }
                seen.insert({r, k});
            }
    }
    return true;
}

TabData tabOf(int n, const QList<int>& withAudio = {}, const QList<int>& super = {})
{
    TabData t;
    t.name = "T";
    for (int i = 0; i < n; ++i) {
        ButtonData b;
        b.id = QString("b%1").arg(i);
        if (withAudio.contains(i)) {
            b.audioPath = QString("/snd/s%1.wav").arg(i);
            b.bgColor = QColor(10, 20, 30);
        }
        b.super = super.contains(i);
        t.buttons << b;
    }
    return t;
}

void setViewport(ButtonGrid& g, int w, int h)
{
    g.scrollArea()->viewport()->resize(w, h);
}

} // namespace

class TstButtonGrid : public QObject
{
    Q_OBJECT
private slots:
    void rebuildMakesPadsAndIds()
    {
        ButtonGrid g;
        g.setButtonsPerTab(36);
        g.setTab(TabData());
        QCOMPARE(g.buttonCount(), 36);
        QCOMPARE(g.tab().buttons.size(), 36);
        QSet<QString> ids;
        for (int i = 0; i < 36; ++i) {
            const QString id = g.buttonWidget(i)->buttonData().id;
            QVERIFY(!id.isEmpty());
            QVERIFY(!id.startsWith('{'));
            QCOMPARE(id, g.tab().buttons[i].id);
            ids.insert(id);
        }
        QCOMPARE(ids.size(), 36);
        QVERIFY(!g.buttonWidget(36));
        QVERIFY(!g.buttonWidget(-1));

        // More records than pads: the surplus stays, unshown; raising the count shows it.
        TabData big = tabOf(48);
        big.buttons[40].id.clear();
        g.setTab(big);
        QCOMPARE(g.buttonCount(), 36);
        QCOMPARE(g.tab().buttons.size(), 48);
        const QString surplusId = g.tab().buttons[40].id;
        QVERIFY(!surplusId.isEmpty());
        QVERIFY(!g.buttonWidgetById("b47"));
        g.setButtonsPerTab(48);
        QCOMPARE(g.buttonCount(), 48);
        QCOMPARE(g.tab().buttons.size(), 48);
        QCOMPARE(g.buttonWidget(47)->buttonData().id, QString("b47"));
        QCOMPARE(g.buttonWidget(40)->buttonData().id, surplusId);

        g.setButtonsPerTab(0);
        QCOMPARE(g.buttonCount(), 1);
        g.setButtonsPerTab(-5);
        QCOMPARE(g.buttonCount(), 1);
        QCOMPARE(g.buttonsPerTab(), 1);
    }

    void setTabColoursAssignedButtonsQuietly()
    {
        ButtonGrid g;
        QSignalSpy changed(&g, &ButtonGrid::buttonDataChanged);
        TabData t = tabOf(4);
        t.buttons[1].audioPath = "/snd/x.wav";
        t.buttons[2].audioPath = "/snd/y.wav";
        t.buttons[2].bgColor = QColor(1, 2, 3);
        g.setButtonsPerTab(4);
        g.setTab(t);
        QVERIFY(!g.tab().buttons[0].bgColor.isValid());
        const ButtonData& coloured = g.tab().buttons[1];
        QVERIFY(coloured.bgColor.isValid());
        const double lum = 0.2126 * coloured.bgColor.redF() + 0.7152 * coloured.bgColor.greenF() +
                           0.0722 * coloured.bgColor.blueF();
        QCOMPARE(coloured.textColor, QColor(lum > 0.42 ? "#111111" : "#FFFFFF"));
        QCOMPARE(g.buttonWidget(1)->buttonData().bgColor, coloured.bgColor);
        QCOMPARE(g.tab().buttons[2].bgColor, QColor(1, 2, 3));
        QCOMPARE(changed.size(), 0);

        // A text colour the user stored wins over the automatic one; the
        // pad draws it.
        t.buttons[3].audioPath = "/snd/z.wav";
        t.buttons[3].textColor = QColor("#ffeb3b");
        g.setTab(t);
        QVERIFY(g.tab().buttons[3].bgColor.isValid());
        QCOMPARE(g.tab().buttons[3].textColor, QColor("#ffeb3b"));
        QCOMPARE(g.buttonWidget(3)->buttonData().textColor, QColor("#ffeb3b"));
    }

    void rebuildKeepsPlayState()
    {
        ButtonGrid g;
        g.setButtonsPerTab(8);
        g.setTab(tabOf(8, {2, 3}));
        g.buttonWidget(2)->setPlaying(true);
        g.buttonWidget(2)->setTriggerMark(SoundButton::TriggeredByWindow);
        g.buttonWidget(3)->setTriggerMark(SoundButton::TriggeredByPress);
        SoundButton* old = g.buttonWidget(2);
        g.setButtonsPerTab(8);
        QVERIFY(g.buttonWidget(2) != old);
        QVERIFY(g.buttonWidget(2)->isPlaying());
        QCOMPARE(g.buttonWidget(2)->triggerMark(), quint8(SoundButton::TriggeredByWindow));
        QCOMPARE(g.buttonWidget(3)->triggerMark(), quint8(SoundButton::TriggeredByPress));
        QVERIFY(!g.buttonWidget(3)->isPlaying());

        g.setButtonPlaying("b3", true);
        QVERIFY(g.buttonWidget(3)->isPlaying());
        g.setButtonPlaying("nobody", true);
        g.setAllStopped();
        QVERIFY(!g.buttonWidget(2)->isPlaying());
        g.buttonWidget(4)->setTriggerMark(SoundButton::TriggeredByPress);
        g.resetAllTriggers();
        for (int i = 0; i < 8; ++i)
            QCOMPARE(g.buttonWidget(i)->triggerMark(), quint8(0));
    }

    void automaticColumns()
    {
        ButtonGrid g;
        const QList<QPair<int, int>> cases = {{0, 8}, {1, 1}, {70, 1}, {79, 1}, {80, 2},
                                              {200, 5}, {319, 7}, {1000, 8}};
        for (const auto& [w, cols] : cases) {
            setViewport(g, w, 300);
            QCOMPARE(g.autoColumns(), cols);
        }
    }

    void layoutArithmetic_data()
    {
        QTest::addColumn<int>("pads");
        QTest::addColumn<QSize>("viewport");
        QTest::addColumn<int>("fixedCols");
        QTest::addColumn<int>("fixedRows");
        QTest::addColumn<int>("cols");
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("cell");
        QTest::newRow("36 in 400x400") << 36 << QSize(400, 400) << 0 << 0 << 8 << 5 << 46;
        QTest::newRow("24 in 800x600") << 24 << QSize(800, 600) << 0 << 0 << 8 << 3 << 96;
        QTest::newRow("36 in 800x600") << 36 << QSize(800, 600) << 0 << 0 << 8 << 5 << 96;
        QTest::newRow("48 in 800x600") << 48 << QSize(800, 600) << 0 << 0 << 8 << 6 << 96;
        QTest::newRow("72 in 800x600") << 72 << QSize(800, 600) << 0 << 0 << 8 << 9 << 63;
        QTest::newRow("72 in 2000x2000 capped") << 72 << QSize(2000, 2000) << 0 << 0 << 8 << 9 << 120;
        QTest::newRow("72 in 100x100 floored") << 72 << QSize(100, 100) << 0 << 0 << 2 << 36 << 28;
        QTest::newRow("fixed rows 3") << 36 << QSize(800, 600) << 0 << 3 << 12 << 3 << 63;
        QTest::newRow("fixed cols 6") << 48 << QSize(800, 600) << 6 << 0 << 6 << 8 << 71;
        QTest::newRow("both fixed") << 24 << QSize(800, 600) << 4 << 4 << 4 << 4 << 120;
        QTest::newRow("no viewport") << 24 << QSize(0, 0) << 0 << 0 << 8 << 3 << 71;
        // Counts from a damaged session file: laid out at the cap, not by the billion.
        QTest::newRow("huge fixed cols") << 24 << QSize(800, 600) << INT_MAX << 0 << 1000 << 1 << 28;
        QTest::newRow("huge fixed rows") << 24 << QSize(800, 600) << 0 << INT_MAX << 1 << 1000 << 28;
    }

    void layoutArithmetic()
    {
        QFETCH(int, pads);
        QFETCH(QSize, viewport);
        QFETCH(int, fixedCols);
        QFETCH(int, fixedRows);
        ButtonGrid g;
        g.setButtonsPerTab(pads);
        setViewport(g, viewport.width(), viewport.height());
        g.setColumns(fixedCols);
        g.setRows(fixedRows);
        QTEST(g.layoutColumns(), "cols");
        QTEST(g.layoutRows(), "rows");
        QTEST(g.cellSize(), "cell");
        QCOMPARE(g.columns(), fixedCols);   // stored unchanged
        QCOMPARE(g.rows(), fixedRows);
        QCOMPARE(g.gridLayout()->rowMinimumHeight(0), g.cellSize());
        QCOMPARE(g.gridLayout()->columnStretch(0), 1);
        // Row-major order without super buttons.
        const int cols = g.layoutColumns();
        for (int i = 0; i < pads; ++i)
            QCOMPARE(cellOf(g, i), (Cell{i / cols, i % cols, 1, 1}));
    }

    void superButtons()
    {
        ButtonGrid g;
        setViewport(g, 400, 400);
        g.setButtonsPerTab(12);
        g.setColumns(4);

        // Column 0 of four: the next pads go to columns 2 and 3, then row 1 skips the block.
        g.setTab(tabOf(12, {}, {0}));
        QCOMPARE(cellOf(g, 0), (Cell{0, 0, 2, 2}));
        QCOMPARE(cellOf(g, 1), (Cell{0, 2, 1, 1}));
        QCOMPARE(cellOf(g, 2), (Cell{0, 3, 1, 1}));
        QCOMPARE(cellOf(g, 3), (Cell{1, 2, 1, 1}));
        QCOMPARE(cellOf(g, 5), (Cell{2, 0, 1, 1}));
        QCOMPARE(g.gridLayout()->rowMinimumHeight(1), g.cellSize());

        // The last column cannot hold a block.
        g.setTab(tabOf(12, {}, {3}));
        QCOMPARE(cellOf(g, 3), (Cell{0, 3, 1, 1}));
        QCOMPARE(cellOf(g, 4), (Cell{1, 0, 1, 1}));

        // A super button whose block would cover a taken cell is one cell.
        g.setTab(tabOf(12, {}, {1, 3}));
        QCOMPARE(cellOf(g, 1), (Cell{0, 1, 2, 2}));
        QCOMPARE(cellOf(g, 3), (Cell{1, 0, 1, 1}));
        QCOMPARE(cellOf(g, 4), (Cell{1, 3, 1, 1}));
        QString why;
        QVERIFY2(noOverlap(g, &why), qPrintable(why));

        // One column: every pad is one cell.
        g.setColumns(1);
        QCOMPARE(cellOf(g, 1), (Cell{1, 0, 1, 1}));
        QVERIFY2(noOverlap(g, &why), qPrintable(why));

        // Back to four: the block is laid out again.
        g.setColumns(4);
        QCOMPARE(cellOf(g, 1), (Cell{0, 1, 2, 2}));
    }

    void superButtonsAtTheEdgesNeverOverlap_data()
    {
        QTest::addColumn<int>("pads");
        QTest::addColumn<int>("cols");
        QTest::newRow("24/6") << 24 << 6;
        QTest::newRow("36/8") << 36 << 8;
        QTest::newRow("48/8") << 48 << 8;
        QTest::newRow("72/8") << 72 << 8;
        QTest::newRow("72/9") << 72 << 9;
        QTest::newRow("36/auto") << 36 << 0;
    }

    void superButtonsAtTheEdgesNeverOverlap()
    {
        QFETCH(int, pads);
        QFETCH(int, cols);
        ButtonGrid g;
        setViewport(g, 400, 400);
        g.setButtonsPerTab(pads);
        g.setColumns(cols);
        const int c = cols > 0 ? cols : 8;
        // Supers in the first and last column of every row, on the last pad,
        // and in runs that collide with the block of the row above.
        QList<int> supers;
        for (int i = 0; i < pads; i += c) {
            supers << i << i + c - 1;
            if (i + 1 < pads)
                supers << i + 1;
        }
        supers << pads - 1;
        g.setTab(tabOf(pads, {}, supers));
        QString why;
        QVERIFY2(noOverlap(g, &why), qPrintable(why));
        QCOMPARE(cellOf(g, 0), (Cell{0, 0, 2, 2}));
        // Supers in the last column stay single.
        for (int i = 0; i < pads; ++i) {
            const Cell c = cellOf(g, i);
            if (c.col == g.layoutColumns() - 1)
                QCOMPARE(c.colSpan, 1);
        }
    }

    void filterHidesAssignedPadsOnly()
    {
        ButtonGrid g;
        setViewport(g, 400, 400);
        g.setButtonsPerTab(6);
        TabData t = tabOf(6, {0, 1, 2, 3});
        t.buttons[0].name = "Morning Jingle";
        t.buttons[1].audioPath = "/snd/News/bed.wav";
        t.buttons[2].name = "Weather";
        t.buttons[4].name = "jingle placeholder";   // empty pad
        g.setTab(t);
        g.show();
        QList<Cell> before;
        for (int i = 0; i < 6; ++i)
            before << cellOf(g, i);

        auto shown = [&] {
            QList<int> out;
            for (int i = 0; i < 6; ++i)
                if (g.buttonWidget(i)->isVisible())
                    out << i;
            return out;
        };
        g.filterButtons("JINGLE");
        QCOMPARE(shown(), QList<int>({0, 4, 5}));
        g.filterButtons("news");
        QCOMPARE(shown(), QList<int>({1, 4, 5}));
        g.filterButtons("nothing matches");
        QCOMPARE(shown(), QList<int>({4, 5}));
        for (int i = 0; i < 6; ++i)
            QCOMPARE(cellOf(g, i), before[i]);
        g.filterButtons(QString());
        QCOMPARE(shown().size(), 6);
    }

    void playEditAndSwapRequests()
    {
        ButtonGrid g;
        g.setButtonsPerTab(4);
        g.setTab(tabOf(4, {1}));
        QSignalSpy play(&g, &ButtonGrid::playRequested);
        QSignalSpy assign(&g, &ButtonGrid::assignRequested);
        QSignalSpy edit(&g, &ButtonGrid::editRequested);
        QSignalSpy swap(&g, &ButtonGrid::buttonSwapRequested);
        QSignalSpy stop(&g, &ButtonGrid::stopRequested);

        // The pad's own copy travels, with the loop flag its badge toggled.
        SoundButton* pad = g.buttonWidget(1);
        pad->resize(100, 80);
        press(pad, {5, 5});
        QCOMPARE(edit.last(), QVariantList({QString("b1"), QString("loop")}));
        QVERIFY(!g.tab().buttons[1].loop);
        emit pad->playRequested("b1");
        QCOMPARE(play.size(), 1);
        const ButtonData sent = play.first().at(0).value<ButtonData>();
        QCOMPARE(sent.id, QString("b1"));
        QVERIFY(sent.loop);

        // No audio, or an id the grid does not hold: assignment.
        emit g.buttonWidget(0)->playRequested("b0");
        emit g.buttonWidget(0)->playRequested("ghost");
        QCOMPARE(assign.size(), 2);
        QCOMPARE(assign.last().at(0).toString(), QString("ghost"));
        QCOMPARE(play.size(), 1);

        // Splitting at the first colon.
        const QList<QPair<QString, QVariantList>> splits = {
            {"abc", {QString("abc"), QString("")}},
            {"abc:", {QString("abc"), QString("")}},
            {"abc:img:x", {QString("abc"), QString("img:x")}},
            {":trim", {QString(""), QString("trim")}},
            {"", {QString(""), QString("")}},
        };
        for (const auto& [text, expected] : splits) {
            emit pad->editRequested(text);
            QCOMPARE(edit.last(), expected);
        }

        emit pad->buttonSwapRequested("b3", "b1");
        QCOMPARE(swap.last(), QVariantList({QString("b3"), QString("b1")}));
        emit pad->stopRequested("b1");
        QCOMPARE(stop.last().at(0).toString(), QString("b1"));
        emit pad->assignRequested("b1");
        QCOMPARE(assign.last().at(0).toString(), QString("b1"));
    }

    void clearResetsTheRecord()
    {
        ButtonGrid g;
        g.setButtonsPerTab(3);
        TabData t = tabOf(3, {1});
        t.buttons[1].name = "Old";
        t.buttons[1].key = "F5";
        t.buttons[1].volume = 1.7;
        g.setTab(t);
        QSignalSpy changed(&g, &ButtonGrid::buttonDataChanged);
        QSignalSpy clearReq(&g, &ButtonGrid::clearRequested);
        emit g.buttonWidget(1)->clearRequested("b1");
        QCOMPARE(changed.size(), 1);
        const ButtonData cleared = changed.first().at(0).value<ButtonData>();
        QCOMPARE(cleared.id, QString("b1"));
        QVERIFY(cleared.audioPath.isEmpty() && cleared.name.isEmpty() && cleared.key.isEmpty());
        QCOMPARE(cleared.volume, 1.0);
        QCOMPARE(cleared.midiNote, -1);
        QVERIFY(!cleared.bgColor.isValid());
        QVERIFY(!g.buttonWidget(1)->hasAudio());
        QVERIFY(g.tab().buttons[1].name.isEmpty());
        QCOMPARE(clearReq.size(), 0);
        emit g.buttonWidget(1)->clearRequested("ghost");
        QCOMPARE(changed.size(), 1);
    }

    void dropsOntoTheGrid()
    {
        const QString dir = TestSupport::tempDir();
        QDir().mkpath(dir + "/Folder");
        ButtonGrid g;
        g.setButtonsPerTab(6);
        TabData t = tabOf(6, {0});
        t.buttons[0].name = "Was";
        t.buttons[1].name = "Kept";
        g.setTab(t);
        QStringList order;
        QList<ButtonData> changes;
        connect(&g, &ButtonGrid::buttonDataChanged, this, [&](const ButtonData& b) {
            order << "changed";
            changes << b;
        });
        connect(&g, &ButtonGrid::dropped, this, [&](const QString& id, const QString& path) {
            order << "dropped:" + id + ":" + path;
        });

        // One file on an assigned pad: renamed after the file.
        std::unique_ptr<QMimeData> md(urlData({dir + "/Big.Intro.wav"}));
        QVERIFY(dropOn(g.buttonWidget(0), md.get()));
        QCOMPARE(order, QStringList({"changed", "dropped:b0:" + dir + "/Big.Intro.wav"}));
        QCOMPARE(changes.last().name, QString("Big.Intro"));
        QCOMPARE(changes.last().bgColor, QColor(10, 20, 30));
        QCOMPARE(g.buttonWidget(0)->buttonData().audioPath, dir + "/Big.Intro.wav");
        QCOMPARE(g.tab().buttons[0].audioPath, dir + "/Big.Intro.wav");

        // On an empty pad that has a name: the name stays, a colour is given.
        md.reset(urlData({dir + "/other.mp3"}));
        QVERIFY(dropOn(g.buttonWidget(1), md.get()));
        QCOMPARE(changes.last().name, QString("Kept"));
        QVERIFY(changes.last().bgColor.isValid());
        QVERIFY(changes.last().textColor.isValid());

        // A folder is refused; nothing changes.
        order.clear();
        md.reset(urlData({dir + "/Folder"}));
        QVERIFY(!dropOn(g.buttonWidget(2), md.get()));
        QVERIFY(order.isEmpty());

        // Several files: the empty pads from the drop target on, in file order.
        QSignalSpy bulk(&g, &ButtonGrid::bulkAssignComplete);
        md.reset(urlData({dir + "/x1.wav", dir + "/x2.ogg", dir + "/notes.txt", dir + "/x3.flac"}));
        QVERIFY(dropOn(g.buttonWidget(1), md.get()));
        QCOMPARE(order, QStringList({"changed", "changed", "changed"}));
        QCOMPARE(g.tab().buttons[2].audioPath, dir + "/x1.wav");
        QCOMPARE(g.tab().buttons[3].audioPath, dir + "/x2.ogg");
        QCOMPARE(g.tab().buttons[4].audioPath, dir + "/x3.flac");
        QCOMPARE(g.tab().buttons[2].name, QString("x1"));
        QCOMPARE(bulk.last(), QVariantList({3, 3}));
    }

    void multiDropSkipsAssignedPadsAndCounts()
    {
        ButtonGrid g;
        g.setButtonsPerTab(8);
        // Pads 3 and 4 have audio, 5 and 7 are empty... 6 has audio too.
        g.setTab(tabOf(8, {3, 4, 6}));
        QSignalSpy bulk(&g, &ButtonGrid::bulkAssignComplete);
        QSignalSpy dropped(&g, &ButtonGrid::dropped);
        QSignalSpy changed(&g, &ButtonGrid::buttonDataChanged);
        const QStringList files = {"/f/1.wav", "/f/2.wav", "/f/3.wav", "/f/4.wav", "/f/5.wav"};
        emit g.buttonWidget(3)->multiDropped("b3", files);
        QCOMPARE(bulk.size(), 1);
        QCOMPARE(bulk.first(), QVariantList({2, 5}));
        QCOMPARE(g.tab().buttons[5].audioPath, QString("/f/1.wav"));
        QCOMPARE(g.tab().buttons[7].audioPath, QString("/f/2.wav"));
        QCOMPARE(g.tab().buttons[6].audioPath, QString("/snd/s6.wav"));
        QCOMPARE(changed.size(), 2);
        QCOMPARE(dropped.size(), 0);

        // Surplus records beyond the pads are never filled.
        ButtonGrid h;
        h.setButtonsPerTab(2);
        h.setTab(tabOf(4));
        emit h.buttonWidget(0)->multiDropped("b0", files);
        QCOMPARE(h.tab().buttons[2].audioPath, QString());
        QCOMPARE(h.tab().buttons[1].audioPath, QString("/f/2.wav"));

        // A receiver that shrinks the grid while the files go in: the walk
        // stops at the pads that are left.
        ButtonGrid k;
        k.setButtonsPerTab(8);
        k.setTab(tabOf(8));
        QSignalSpy kb(&k, &ButtonGrid::bulkAssignComplete);
        bool shrunk = false;
        connect(&k, &ButtonGrid::buttonDataChanged, &k, [&] {
            if (!std::exchange(shrunk, true))
                k.setButtonsPerTab(2);
        });
        emit k.buttonWidget(0)->multiDropped("b0", files);
        QCOMPARE(k.buttonCount(), 2);
        QCOMPARE(kb.first(), QVariantList({2, 5}));
        QCOMPARE(k.tab().buttons[1].audioPath, QString("/f/2.wav"));
        QCOMPARE(k.tab().buttons[2].audioPath, QString());

        // Nothing to do: no signal at all.
        QSignalSpy hb(&h, &ButtonGrid::bulkAssignComplete);
        emit h.buttonWidget(0)->multiDropped("ghost", files);
        emit h.buttonWidget(0)->multiDropped("b0", {});
        QCOMPARE(hb.size(), 0);
    }

    void sessionSyncTouchesMatchingIdsOnly()
    {
        ButtonGrid g;
        g.setButtonsPerTab(3);
        g.setTab(tabOf(4));
        TabData edited = g.tab();
        edited.buttons[0].name = "zero";
        edited.buttons[1].id = "someone-else";
        edited.buttons[1].name = "one";
        edited.buttons[3].name = "surplus";
        edited.name = "Renamed";

        g.updateTabData(edited);
        QCOMPARE(g.tab().buttons[0].name, QString("zero"));
        QCOMPARE(g.tab().buttons[1].name, QString());
        QCOMPARE(g.tab().buttons[3].name, QString("surplus"));
        QCOMPARE(g.tab().name, QString("T"));
        QCOMPARE(g.buttonWidget(0)->buttonData().name, QString());   // no pad refresh

        edited.buttons[0].name = "zero again";
        edited.buttons[2].name = "two";
        g.buttonWidget(2)->setPlaying(true);
        g.syncFromSession(edited);
        QCOMPARE(g.buttonWidget(0)->buttonData().name, QString("zero again"));
        QCOMPARE(g.buttonWidget(2)->buttonData().name, QString("two"));
        QVERIFY(!g.buttonWidget(2)->isPlaying());   // no sound: nothing plays
        QCOMPARE(g.buttonWidget(1)->buttonData().name, QString());

        // A pad whose sound stays keeps showing it playing: light, progress
        // and who started it; one given another sound does not.
        edited.buttons[0].audioPath = "/snd/zero.wav";
        edited.buttons[2].audioPath = "/snd/two.wav";
        g.syncFromSession(edited);
        for (int i : {0, 2}) {
            g.buttonWidget(i)->setPlaying(true);
            g.buttonWidget(i)->setTriggerMark(SoundButton::TriggeredByWindow);
            g.buttonWidget(i)->setPosition(12000, 45000);
        }
        edited.buttons[0].name = "zero renamed";
        edited.buttons[2].audioPath = "/snd/other.wav";
        g.syncFromSession(edited);
        const SoundButton* same = g.buttonWidget(0);
        QCOMPARE(same->buttonData().name, QString("zero renamed"));
        QVERIFY(same->isPlaying());
        QCOMPARE(same->triggerMark(), quint8(SoundButton::TriggeredByWindow));
        QCOMPARE(same->positionMs(), 12000);
        QCOMPARE(same->durationMs(), 45000);
        const SoundButton* other = g.buttonWidget(2);
        QVERIFY(!other->isPlaying());
        QCOMPARE(other->triggerMark(), quint8(SoundButton::NotTriggered));
        QCOMPARE(other->durationMs(), 0);
    }

    // A deferring grid that has not been shown holds records only; each way
    // of reaching a pad makes all of them, from the records as they stand.
    void deferredPadsAreMadeWhenNeeded_data()
    {
        QTest::addColumn<QString>("trigger");
        QTest::addColumn<bool>("playing");   // pad b5 playing afterwards
        QTest::newRow("grid shown") << "show" << false;
        QTest::newRow("pad by index") << "index" << false;
        QTest::newRow("pad by id") << "id" << false;
        QTest::newRow("pad count") << "count" << false;
        QTest::newRow("play state") << "playing" << true;
        QTest::newRow("made by hand") << "ensure" << false;
    }
    void deferredPadsAreMadeWhenNeeded()
    {
        QFETCH(QString, trigger);
        QFETCH(bool, playing);
        QWidget host;
        auto* g = new ButtonGrid(&host);
        g->setDeferPads(true);
        g->setTab(tabOf(10, {1}), 12);
        QVERIFY(g->padsPending());
        QCOMPARE(g->findChildren<SoundButton*>().size(), 0);
        QCOMPARE(g->tab().buttons.size(), 12);   // records padded and given ids at once
        QVERIFY(!g->tab().buttons[11].id.isEmpty());

        // Nothing to stop or clear yet, and nothing made by it.
        g->setAllStopped();
        g->resetAllTriggers();
        g->filterButtons(QString());
        g->applyTheme();
        TabData edited = g->tab();
        edited.buttons[3].name = "synced while pending";
        g->syncFromSession(edited);
        QVERIFY(g->padsPending());

        if (trigger == "show") {
            host.show();
            QVERIFY(QTest::qWaitForWindowExposed(&host));
        } else if (trigger == "index") {
            QVERIFY(g->buttonWidget(0));
        } else if (trigger == "id") {
            QVERIFY(g->buttonWidgetById("b4"));
        } else if (trigger == "count") {
            QCOMPARE(g->buttonCount(), 12);
        } else if (trigger == "playing") {
            g->setButtonPlaying("b5", true);
        } else {
            g->ensurePads();
        }
        QVERIFY(!g->padsPending());
        QCOMPARE(g->findChildren<SoundButton*>().size(), 12);
        QCOMPARE(g->buttonCount(), 12);
        for (int i = 0; i < 12; ++i) {
            QCOMPARE(g->buttonWidget(i)->buttonData().id, g->tab().buttons[i].id);
            QVERIFY(g->gridLayout()->indexOf(g->buttonWidget(i)) >= 0);
        }
        QCOMPARE(g->buttonWidget(3)->buttonData().name, QString("synced while pending"));
        QVERIFY(g->buttonWidget(1)->hasAudio());
        QCOMPARE(g->buttonWidget(5)->isPlaying(), playing);
        if (trigger == "show")
            QTRY_VERIFY(g->buttonWidget(0)->isVisible());
    }

    // Deferral never drops pads that exist or a grid on screen.
    void deferralLeavesMadePadsAlone_data()
    {
        QTest::addColumn<bool>("shownFirst");
        QTest::newRow("pads already made") << false;
        QTest::newRow("grid on screen") << true;
    }
    void deferralLeavesMadePadsAlone()
    {
        QFETCH(bool, shownFirst);
        ButtonGrid g;
        if (shownFirst) {
            g.setDeferPads(true);
            g.show();
            QVERIFY(QTest::qWaitForWindowExposed(&g));
            g.setTab(tabOf(6), 6);
        } else {
            g.setTab(tabOf(6), 6);
            g.setDeferPads(true);
        }
        QVERIFY(!g.padsPending());
        g.buttonWidget(2)->setPlaying(true);
        g.setButtonsPerTab(8);
        QVERIFY(!g.padsPending());
        QCOMPARE(g.findChildren<SoundButton*>().size(), 8);
        QVERIFY(g.buttonWidget(2)->isPlaying());
    }

    void resizeLaysOutAgain()
    {
        ButtonGrid g;
        g.setButtonsPerTab(36);
        g.resize(400, 400);
        g.show();
        QVERIFY(QTest::qWaitForWindowExposed(&g));
        QTRY_COMPARE(g.layoutColumns(), 8);
        g.resize(200, 400);
        QTRY_COMPARE(g.layoutColumns(), 5);
        QCOMPARE(cellOf(g, 5), (Cell{1, 0, 1, 1}));
    }

    // Pads never shrink below their minimum width: whatever the shape and
    // the pane's width, every pad's centre lies in the viewport or can be
    // scrolled into it with a scroll bar that shows.
    void everyPadInReach_data()
    {
        QTest::addColumn<int>("pads");
        QTest::addColumn<int>("fixedCols");
        QTest::addColumn<int>("fixedRows");
        QTest::addColumn<QSize>("pane");
        QTest::newRow("72, 3 rows, 916 px") << 72 << 0 << 3 << QSize(916, 500);
        QTest::newRow("36, 20 columns, quarter pane") << 36 << 20 << 0 << QSize(450, 300);
        QTest::newRow("36, 20 columns, wide pane") << 36 << 20 << 0 << QSize(1800, 600);
        QTest::newRow("72, 2 rows, narrow pane") << 72 << 0 << 2 << QSize(300, 200);
        QTest::newRow("36, 6 x 6, small pane") << 36 << 6 << 6 << QSize(200, 150);
        QTest::newRow("72 automatic, 916 px") << 72 << 0 << 0 << QSize(916, 500);
        QTest::newRow("72 automatic, narrow") << 72 << 0 << 0 << QSize(150, 300);
        QTest::newRow("48, 12 columns, 400 px") << 48 << 12 << 0 << QSize(400, 700);
    }
    void everyPadInReach()
    {
        QFETCH(int, pads);
        QFETCH(int, fixedCols);
        QFETCH(int, fixedRows);
        QFETCH(QSize, pane);
        ButtonGrid g;
        g.setButtonsPerTab(pads);
        g.setColumns(fixedCols);
        g.setRows(fixedRows);
        g.resize(pane);
        g.show();
        QVERIFY(QTest::qWaitForWindowExposed(&g));
        QCoreApplication::processEvents();
        g.layoutButtons();
        QCoreApplication::processEvents();
        QScrollArea* area = g.scrollArea();
        const QWidget* view = area->viewport();
        const QScrollBar* h = area->horizontalScrollBar();
        const QScrollBar* v = area->verticalScrollBar();
        const int reachX = view->width() + (h->isVisible() ? h->maximum() : 0);
        const int reachY = view->height() + (v->isVisible() ? v->maximum() : 0);
        for (int i = 0; i < g.buttonCount(); ++i) {
            const QPoint c = g.buttonWidget(i)->geometry().center();
            QVERIFY2(c.x() >= 0 && c.x() < reachX && c.y() >= 0 && c.y() < reachY,
                     qPrintable(QString("pad %1 at %2,%3 out of reach (%4 x %5)")
                                    .arg(i)
                                    .arg(c.x())
                                    .arg(c.y())
                                    .arg(reachX)
                                    .arg(reachY)));
        }
    }

    void rendersInEveryPreset()
    {
        static QStringList problems;
        problems.clear();
        QtMessageHandler previous = qInstallMessageHandler([](QtMsgType t, const QMessageLogContext&, const QString& m) {
            if (t != QtDebugMsg && t != QtInfoMsg && !m.contains("propagateSizeHints"))
                problems << m;
        });
        ButtonGrid g;
        g.setButtonsPerTab(72);
        TabData t = tabOf(72, {0, 1, 2, 3, 4, 5, 10, 11, 12, 40}, {10});
        t.buttons[1].rapid = true;
        t.buttons[1].loop = true;
        t.buttons[2].key = "F9";
        t.buttons[3].trimStart = 2;
        t.buttons[4].textColor = QColor("#ffee00");
        t.buttons[5].name = "A rather long name that will not fit on one pad";
        QImage img(16, 16, QImage::Format_RGB32);
        img.fill(Qt::darkCyan);
        QByteArray png;
        QBuffer buf(&png);
        buf.open(QIODevice::WriteOnly);
        img.save(&buf, "PNG");
        t.buttons[11].img = QString::fromLatin1(png.toBase64());
        g.setTab(t);
        g.buttonWidget(0)->setPlaying(true);
        g.buttonWidget(0)->setPosition(2000, 4500);
        g.buttonWidget(12)->setPosition(0, 61000);
        g.resize(900, 700);
        g.show();
        QVERIFY(QTest::qWaitForWindowExposed(&g));
        for (int p = ThemeManager::Dark; p <= ThemeManager::NavyOrange; ++p) {
            ThemeManager::instance()->applyPreset(ThemeManager::Preset(p));
            g.applyTheme();
            const QImage shot = g.grab().toImage();
            QVERIFY(!shot.isNull());
            // The surface colour of the preset shows on an empty pad.
            SoundButton* empty = g.buttonWidget(20);
            const QPoint inPad = empty->mapTo(&g, QPoint(empty->width() / 2, 4));
            const QColor seen = shot.pixelColor(inPad);
            const QColor surface = ThemeManager::instance()->colors().surface;
            QVERIFY2(std::abs(seen.lightness() - surface.lightness()) < 24,
                     qPrintable(QString("preset %1: %2 vs %3").arg(p).arg(seen.name(), surface.name())));
        }
        qInstallMessageHandler(previous);
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join('\n')));
    }
};

QTEST_MAIN(TstButtonGrid)
#include "tst_buttongrid.moc"
