// The painters of the music rows and of the recent sets: which glyph, title,
// folder line, button and star a row shows in each state, in which colour,
// and how long texts are cut. Drawn onto a recording device.
#include <QPainter>
#include <QStandardItemModel>
#include <QtTest>

#include "MusicItemDelegate.h"
#include "RecordingPainter.h"
#include "SessionDelegate.h"
#include "TestSupport.h"
#include "ThemeManager.h"

namespace {

const QChar kEllipsis(0x2026);

Recording paintRow(QStyledItemDelegate& d, QStandardItem* item, QStyle::State state, int width = 260,
                         int height = 38)
{
    QStandardItemModel model;
    for (int i = 0; i < 4; ++i)
        model.appendRow(new QStandardItem(QStringLiteral("filler")));
    model.appendRow(item); // row 4
    RecordingDevice device(QSize(width, height));
    QStyleOptionViewItem opt;
    opt.rect = QRect(0, 0, width, height);
    opt.state = state | QStyle::State_Enabled;
    QPainter p(&device);
    d.paint(&p, opt, model.index(4, 0));
    p.end();
    return device.engine.rec;
}

QColor withAlpha(QColor c, int a)
{
    c.setAlpha(a);
    return c;
}

// A text drawn in a theme role: the role's colour, or that colour moved only
// as far as reading on the row's ground needs (the window's contrast walk
// measures the reading itself).
bool inRole(const QColor& drawn, const QColor& role)
{
    return ThemeManager::contrast(drawn, role) < 2.0;
}

} // namespace

class TstRowDelegates : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        TestSupport::isolateSettings();
        ThemeManager::instance()->applyPreset(ThemeManager::Dark);
    }

    void musicRow_data()
    {
        const ThemeColors& c = ThemeManager::instance()->colors();
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("playing");
        QTest::addColumn<bool>("flagged");
        QTest::addColumn<bool>("hovered");
        QTest::addColumn<QString>("glyph");
        QTest::addColumn<QColor>("glyphColour");
        QTest::addColumn<QColor>("titleColour");
        QTest::addColumn<QString>("star"); // "" for none
        QTest::addColumn<bool>("playButton");
        const QString t = QStringLiteral("Song\n/music/jingles");
        const QColor orange(0xFF, 0x8C, 0x00);
        QTest::newRow("plain") << t << false << false << false << "5" << c.textMuted << c.textSecondary << ""
                               << false;
        QTest::newRow("playing and flagged") << t << true << true << false << "▶" << c.accent << QColor(Qt::white)
                                             << "★" << false;
        QTest::newRow("flagged") << t << false << true << false << "♪" << orange << QColor(0xFF, 0xB3, 0x47) << "★"
                                 << false;
        QTest::newRow("hovered") << t << false << false << true << "5" << c.textMuted << c.textSecondary << "☆"
                                 << true;
        QTest::newRow("hovered and flagged") << t << false << true << true << "♪" << orange << QColor(0xFF, 0xB3, 0x47)
                                             << "★" << true;
        QTest::newRow("hovered, playing") << t << true << false << true << "▶" << c.accent << QColor(Qt::white) << "☆"
                                          << false;
    }
    void musicRow()
    {
        QFETCH(QString, text);
        QFETCH(bool, playing);
        QFETCH(bool, flagged);
        QFETCH(bool, hovered);
        QFETCH(QString, glyph);
        QFETCH(QColor, glyphColour);
        QFETCH(QColor, titleColour);
        QFETCH(QString, star);
        QFETCH(bool, playButton);
        MusicItemDelegate d;
        auto* item = new QStandardItem(text);
        item->setData(playing, MusicItemDelegate::kPlayingRole);
        item->setData(flagged, MusicItemDelegate::kInPlaylistRole);
        const Recording e = paintRow(d, item, hovered ? QStyle::State_MouseOver : QStyle::State_None);
        const QStringList s = e.strings();
        QCOMPARE(s.first(), glyph);
        QVERIFY2(inRole(e.texts.first().colour, glyphColour), qPrintable(e.texts.first().colour.name()));
        const Recording::Text* title = e.find(QStringLiteral("Song"));
        QVERIFY(title);
        QVERIFY2(inRole(title->colour, titleColour), qPrintable(title->colour.name()));
        QCOMPARE(title->font.weight(), playing ? QFont::DemiBold : QFont::Normal);
        const Recording::Text* folder = e.find(QStringLiteral("/music/jingles"));
        QVERIFY(folder);
        // The folder line is muted text, not a border's colour.
        QVERIFY2(inRole(folder->colour, ThemeManager::instance()->colors().textMuted),
                 qPrintable(folder->colour.name()));
        QCOMPARE(s.contains(QStringLiteral("★")) || s.contains(QStringLiteral("☆")), !star.isEmpty());
        if (!star.isEmpty())
            QVERIFY(s.contains(star));
        // The play button is a second "▶", in white.
        const int triangles = int(s.count(QStringLiteral("▶")));
        QCOMPARE(triangles, (playing ? 1 : 0) + (playButton ? 1 : 0));
        QCOMPARE(e.fills.contains(withAlpha(QColor(0xE3, 0x1B, 0x23), 25)), playing);
        QCOMPARE(e.fills.contains(withAlpha(QColor(0xE3, 0x1B, 0x23), 200)), playButton);
    }

    void musicRowTexts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("title");  // "" : check elision instead
        QTest::addColumn<QString>("folder"); // "-" : no folder line
        QTest::newRow("no line feed") << "Just a title" << "Just a title" << "-";
        QTest::newRow("folder trimmed") << "Song\n   ~/Music  " << "Song" << "~/Music";
        QTest::newRow("empty folder line") << "Song\n  " << "Song" << "-";
        QTest::newRow("long title cut at its end")
            << QStringLiteral("A very long title that cannot possibly fit into one short row\n~/M") << "" << "~/M";
        QTest::newRow("long folder cut at its start")
            << QStringLiteral("Song\n/srv/audio/stations/north/archive/2024/morning/jingles/end") << "Song" << "";
    }
    void musicRowTexts()
    {
        QFETCH(QString, text);
        QFETCH(QString, title);
        QFETCH(QString, folder);
        MusicItemDelegate d;
        const QStringList s = paintRow(d, new QStandardItem(text), QStyle::State_None).strings();
        QCOMPARE(s.size(), folder == QLatin1String("-") ? 2 : 3);
        if (title.isEmpty()) {
            QVERIFY(s[1].endsWith(kEllipsis));
            QVERIFY(text.startsWith(s[1].chopped(1)));
        } else {
            QCOMPARE(s[1], title);
        }
        if (folder == QLatin1String("-"))
            return;
        if (folder.isEmpty()) {
            QVERIFY2(s[2].startsWith(kEllipsis), qPrintable(s[2]));
            QVERIFY(s[2].endsWith(QLatin1String("/jingles/end")));
        } else {
            QCOMPARE(s[2], folder);
        }
    }

    void sessionRow_data()
    {
        const ThemeColors& c = ThemeManager::instance()->colors();
        QTest::addColumn<bool>("current");
        QTest::addColumn<bool>("missing");
        QTest::addColumn<QString>("glyph");
        QTest::addColumn<QColor>("nameColour");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QColor>("box");
        QTest::newRow("current") << true << false << "▶" << c.text << "Shows" << c.accent;
        QTest::newRow("other") << false << false << "♪" << c.textSecondary << "Shows" << c.surfaceAlt;
        QTest::newRow("missing") << false << true << "♪" << c.textMuted << "missing file" << c.surfaceHover;
    }
    void sessionRow()
    {
        QFETCH(bool, current);
        QFETCH(bool, missing);
        QFETCH(QString, glyph);
        QFETCH(QColor, nameColour);
        QFETCH(QString, folder);
        QFETCH(QColor, box);
        SessionDelegate d;
        auto* item = new QStandardItem(QStringLiteral("show"));
        item->setData(QStringLiteral("/sets/Shows/show.final.vx"), SessionDelegate::kPathRole);
        item->setData(QStringLiteral("show"), SessionDelegate::kNameRole);
        item->setData(QStringLiteral("Shows"), SessionDelegate::kFolderRole);
        item->setData(current, SessionDelegate::kCurrentRole);
        item->setData(missing, SessionDelegate::kMissingRole);
        const Recording e = paintRow(d, item, QStyle::State_None, 190, 52);
        QCOMPARE(e.strings(), (QStringList{glyph, QStringLiteral("show"), folder}));
        QVERIFY(inRole(e.find(QStringLiteral("show"))->colour, nameColour));
        QVERIFY(inRole(e.find(folder)->colour, ThemeManager::instance()->colors().textMuted));
        QCOMPARE(e.fills.first(), box);
        // The dot of the open session, after the box.
        QCOMPARE(e.fills.size(), current ? 2 : 1);
        QModelIndex none;
        QCOMPARE(d.sizeHint({}, none).height(), 52);
    }

    // The list's placeholder has no path: muted centred text at its own 40 px.
    void sessionPlaceholder()
    {
        SessionDelegate d;
        auto* item = new QStandardItem(QStringLiteral("No recent sessions"));
        item->setSizeHint(QSize(0, 40));
        QStandardItemModel model;
        model.appendRow(item);
        QCOMPARE(d.sizeHint({}, model.index(0, 0)).height(), 40);
        const Recording e = paintRow(d, item->clone(), QStyle::State_None, 190, 40);
        QCOMPARE(e.strings(), QStringList{QStringLiteral("No recent sessions")});
        QVERIFY(inRole(e.texts.first().colour, ThemeManager::instance()->colors().textMuted));
        QVERIFY(e.fills.isEmpty());
    }
};

QTEST_MAIN(TstRowDelegates)
#include "tst_rowdelegates.moc"
