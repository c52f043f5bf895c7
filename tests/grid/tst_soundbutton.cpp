// Mouse events of QTest go through the window system layer, as real ones do,
// so the platform's context-menu request follows a right press.
#define QTEST_QPA_MOUSE_HANDLING
#include <QDialog>
#include <QDir>
#include <QDrag>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTimer>
#include <QHelpEvent>
#include <QToolTip>
#include <QtTest>
#include <optional>

#include "AppSettings.h"
#include "GridTestUtil.h"
#include "MidiManager.h"
#include "MonoClock.h"
#include "SoundButton.h"
#include "ThemeManager.h"
#include "TestSupport.h"

using namespace GridTest;

class TstSoundButton : public QObject
{
    Q_OBJECT

    qint64 m_now = 1000;

    // The clock the pads read: milliseconds of m_now, moved only by the tests.
    struct TestClock : MonoClock
    {
        const qint64* ms;
        explicit TestClock(const qint64* m) : ms(m) {}
        qint64 nowNs() const override { return *ms * 1000000; }
    } m_clock{&m_now};

    // Every press in these tests happens well after the previous one unless a
    // test moves the clock itself.
    void later(qint64 ms = 100) { m_now += ms; }

    SoundButton* make(QWidget* parent, const ButtonData& d, QSize size = {120, 80})
    {
        auto* b = new SoundButton(parent);
        b->setButtonData(d);
        b->resize(size);
        return b;
    }

private slots:
    void init()
    {
        MonoClock::setCurrent(&m_clock);
    }
    void cleanup()
    {
        MonoClock::setCurrent(nullptr);
        Modal::setHandler(nullptr);
    }

    void hotAreasOnTallButtons()
    {
        QWidget host;
        SoundButton* b = make(&host, assigned("a", "/x/a.wav"), {200, 60});
        QSignalSpy play(b, &SoundButton::playRequested);
        QSignalSpy edit(b, &SoundButton::editRequested);

        // Loop area: 20 x 22 px at the top left, inclusive corners.
        press(b, {19, 21});
        QCOMPARE(edit.size(), 1);
        QCOMPARE(edit.last().at(0).toString(), QString("a:loop"));
        QVERIFY(b->buttonData().loop);
        QCOMPARE(b->triggerMark(), quint8(SoundButton::TriggeredByPress));
        release(b);
        later();
        press(b, {0, 0});
        QVERIFY(!b->buttonData().loop);
        release(b);

        // Trim area: from width - 23 to width - 4.
        later();
        press(b, {177, 0});
        QCOMPARE(edit.last().at(0).toString(), QString("a:trim"));
        release(b);
        later();
        press(b, {196, 21});
        QCOMPARE(edit.size(), 4);
        release(b);
        QCOMPARE(play.size(), 0);

        // Just outside each area the press plays.
        const QList<QPoint> outside = {{20, 5}, {5, 22}, {176, 5}, {197, 5}, {100, 30}};
        for (const QPoint& p : outside) {
            later();
            press(b, p);
            release(b, p);
        }
        QCOMPARE(play.size(), outside.size());
        QCOMPARE(edit.size(), 4);
    }

    void hotAreasDependOnHeightNotOnBadges()
    {
        QWidget host;
        // 54 px or less: no hot areas, a press in the corner plays.
        SoundButton* low = make(&host, assigned("low", "/x/low.wav"), {200, 54});
        QSignalSpy lowPlay(low, &SoundButton::playRequested);
        QSignalSpy lowEdit(low, &SoundButton::editRequested);
        press(low, {5, 5});
        QCOMPARE(lowPlay.size(), 1);
        QCOMPARE(lowEdit.size(), 0);

        // With the loop badge hidden the area still toggles loop.
        {
            AppSettings s;
            s.setValue("appearance/showLoopIcon", false);
        }
        SoundButton::refreshIconSettingsCache();
        QVERIFY(!SoundButton::showLoopIcon());
        SoundButton* tall = make(&host, assigned("tall", "/x/t.wav"), {200, 55});
        QSignalSpy tallPlay(tall, &SoundButton::playRequested);
        QSignalSpy tallEdit(tall, &SoundButton::editRequested);
        press(tall, {5, 5});
        QCOMPARE(tallPlay.size(), 0);
        QCOMPARE(tallEdit.size(), 1);
        QVERIFY(tall->buttonData().loop);
        {
            AppSettings s;
            s.remove("appearance/showLoopIcon");
        }
        SoundButton::refreshIconSettingsCache();
        QVERIFY(SoundButton::showLoopIcon());
    }

    void emptyPadClickAsksForAssignment()
    {
        QWidget host;
        SoundButton* b = make(&host, assigned("e", QString()), {200, 80});
        QSignalSpy play(b, &SoundButton::playRequested);
        QSignalSpy edit(b, &SoundButton::editRequested);
        QSignalSpy assign(b, &SoundButton::assignRequested);
        press(b, {5, 5});   // no hot areas without audio
        QCOMPARE(assign.size(), 0);
        release(b, {5, 5});
        QCOMPARE(assign.size(), 1);
        QCOMPARE(assign.first().at(0).toString(), QString("e"));
        // A press that is dragged off the pad before release is no click.
        press(b);
        release(b, {500, 500});
        QCOMPARE(assign.size(), 1);
        QCOMPARE(play.size() + edit.size(), 0);
    }

    void debounceUsesTheMonotonicClock()
    {
        QWidget host;
        SoundButton* b = make(&host, assigned("d", "/x/d.wav"));
        QSignalSpy play(b, &SoundButton::playRequested);

        // The clock may start anywhere: the very first press always plays.
        m_now = 2;
        press(b);
        release(b);
        QCOMPARE(play.size(), 1);
        m_now += 3;
        press(b);
        release(b);
        QCOMPARE(play.size(), 1);       // 3 ms after the accepted press: dropped
        m_now += 1;
        press(b);
        release(b);
        QCOMPARE(play.size(), 1);       // 4 ms: still dropped
        m_now += 1;
        press(b);
        release(b);
        QCOMPARE(play.size(), 2);       // 5 ms: plays
        QCOMPARE(play.last().at(0).toString(), QString("d"));

        // The double click shares the same window.
        m_now += 4;
        dblClick(b);
        QCOMPARE(play.size(), 2);
        m_now += 1;
        dblClick(b);
        QCOMPARE(play.size(), 3);

        // A dropped press leaves the accepted time alone, so presses 3 ms apart
        // alternate rather than starve.
        m_now += 100;
        for (int i = 0; i < 6; ++i) {
            press(b);
            release(b);
            m_now += 3;
        }
        QCOMPARE(play.size(), 3 + 3);
    }

    void rapidButtonRepeatsWhileHeld()
    {
        QWidget host;
        ButtonData d = assigned("r", "/x/r.wav");
        d.rapid = true;
        SoundButton* b = make(&host, d);
        host.show();
        QVERIFY(QTest::qWaitForWindowActive(&host));
        QSignalSpy play(b, &SoundButton::playRequested);

        // Through the window system, which knows the button is held.
        QTest::mousePress(b, Qt::LeftButton, {}, QPoint(30, 30));
        QCOMPARE(play.size(), 1);
        auto* timer = b->findChild<QTimer*>();
        QVERIFY(timer);
        QVERIFY(timer->isActive());
        QCOMPARE(timer->interval(), 125);
        // 400 ms held: the repeats at 125, 250 and 375 ms.
        for (int i = 0; i < 3; ++i)
            QMetaObject::invokeMethod(timer, "timeout");
        QCOMPARE(play.size(), 4);
        QTest::mouseRelease(b, Qt::LeftButton, {}, QPoint(30, 30));
        QVERIFY(!timer->isActive());

        // A double click plays once and starts no repeats.
        later();
        dblClick(b);
        QCOMPARE(play.size(), 5);
        QVERIFY(!timer->isActive());

        // A plain button makes no timer at all.
        SoundButton* plain = make(&host, assigned("p", "/x/p.wav"));
        press(plain);
        QVERIFY(!plain->findChild<QTimer*>());
    }

    // The repeat lasts only while the left button is held on the pad: every
    // way the button can leave ends it before the next repeat, and so does a
    // stop.
    void repeatEndsWhenTheButtonLeaves_data()
    {
        QTest::addColumn<QString>("how");
        for (const char* how : {"release elsewhere", "popup", "dialog", "pane switch", "focus loss", "context menu",
                                "stop", "not rapid any more"})
            QTest::newRow(how) << QString::fromLatin1(how);
    }

    void repeatEndsWhenTheButtonLeaves()
    {
        QFETCH(QString, how);
        QWidget host;
        host.resize(300, 200);
        ButtonData d = assigned("r", "/x/r.wav");
        d.rapid = true;
        SoundButton* b = make(&host, d);
        QWidget other;
        other.setGeometry(400, 0, 100, 100);
        other.show();
        host.show();
        host.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&host));
        QSignalSpy play(b, &SoundButton::playRequested);
        later();
        QTest::mousePress(b, Qt::LeftButton, {}, QPoint(30, 30));
        auto* timer = b->findChild<QTimer*>();
        QVERIFY(timer && timer->isActive());
        QMetaObject::invokeMethod(timer, "timeout"); // still held: it repeats
        QCOMPARE(play.size(), 2);

        QMenu menu;
        QDialog dialog(&host);
        std::optional<TestSupport::ModalScript> answer;
        if (how == QLatin1String("release elsewhere")) {
            QTest::mouseRelease(&other, Qt::LeftButton, {}, QPoint(10, 10));
        } else if (how == QLatin1String("popup")) {
            menu.addAction(QStringLiteral("x"));
            menu.popup(host.mapToGlobal(QPoint(50, 50)));
            QTRY_VERIFY(QApplication::activePopupWidget());
        } else if (how == QLatin1String("dialog")) {
            dialog.open();
            QTRY_COMPARE(QApplication::activeModalWidget(), &dialog);
        } else if (how == QLatin1String("pane switch")) {
            host.hide();
        } else if (how == QLatin1String("focus loss")) {
            other.activateWindow();
            QTRY_VERIFY(!host.isActiveWindow());
        } else if (how == QLatin1String("context menu")) {
            answer.emplace([](const Modal::Request&) { return QVariant(); });
            b->showContextMenu(b->mapToGlobal(QPoint(30, 30)));
        } else if (how == QLatin1String("stop")) {
            b->stopRepeat();
        } else {
            d.rapid = false;
            b->setButtonData(d);
        }
        // 250 ms of a running timer's ticks: none fires.
        for (int tick = 0; tick < 2; ++tick)
            if (timer->isActive())
                QMetaObject::invokeMethod(timer, "timeout");
        QCOMPARE(play.size(), 2);
        QVERIFY(!timer->isActive());

        menu.close();
        dialog.close();
        // Leave the window system with no button held.
        if (QGuiApplication::mouseButtons() & Qt::LeftButton)
            QTest::mouseRelease(&other, Qt::LeftButton, {}, QPoint(10, 10));
    }

    void doubleClickRules()
    {
        QWidget host;
        SoundButton* b = make(&host, assigned("c", "/x/c.wav"));
        QSignalSpy play(b, &SoundButton::playRequested);
        QSignalSpy edit(b, &SoundButton::editRequested);

        // MIDI learn armed: the double click marks the pad but does not play.
        MidiManager::instance()->startLearn("some-target");
        dblClick(b);
        QCOMPARE(play.size(), 0);
        QCOMPARE(b->triggerMark(), quint8(SoundButton::TriggeredByPress));
        MidiManager::instance()->stopLearn();
        later();
        dblClick(b);
        QCOMPARE(play.size(), 1);

        // A double click on the loop badge toggles, it never plays.
        later();
        dblClick(b, {3, 3});
        QCOMPARE(play.size(), 1);
        QCOMPARE(edit.size(), 1);
        QCOMPARE(edit.first().at(0).toString(), QString("c:loop"));

        // No audio: nothing.
        SoundButton* empty = make(&host, assigned("none", QString()));
        QSignalSpy emptyPlay(empty, &SoundButton::playRequested);
        later();
        dblClick(empty);
        QCOMPARE(emptyPlay.size(), 0);
    }

    void rightDragCarriesTheButtonPayload()
    {
        QWidget host;
        ButtonData d = assigned("src-id", "/x/s.wav", "Jingle");
        d.loop = true;
        d.key = "F2";
        d.fontSize = 14;
        d.bgColor = QColor(255, 0, 0);
        d.trimStart = 1.5;
        d.volume = 0.8;
        SoundButton* b = make(&host, d);
        QSignalSpy play(b, &SoundButton::playRequested);

        mouse(b, QEvent::MouseMove, Qt::NoButton, {40, 40}, Qt::RightButton);
        auto* drag = b->findChild<QDrag*>();
        QVERIFY2(drag, "a right-button move starts a drag");
        const QByteArray payload = drag->mimeData()->data("application/x-tarvello-button");
        QCOMPARE(payload, SoundButton::dragPayload(b->buttonData()));
        QVERIFY(!payload.contains('\n'));
        const QJsonObject o = QJsonDocument::fromJson(payload).object();
        QCOMPARE(o.keys().size(), 12);
        QCOMPARE(o["id"].toString(), QString("src-id"));
        QCOMPARE(o["name"].toString(), QString("Jingle"));
        QCOMPARE(o["isLoop"].toBool(), true);
        QCOMPARE(o["isSuperBtn"].toBool(), false);
        QCOMPARE(o["shortcutKey"].toString(), QString("F2"));
        QCOMPARE(o["fontSize"].toInt(), 14);
        QCOMPARE(o["bgColor"].toString(), QString("#ff0000"));
        QCOMPARE(o["textColor"].toString(), QString(""));
        QCOMPARE(o["trimStart"].toDouble(), 1.5);
        QCOMPARE(o["volume"].toDouble(), 0.8);
        // The field order is the documented one.
        QVERIFY(payload.startsWith("{\"id\":\"src-id\",\"name\":\"Jingle\",\"audioPath\":"));

        // After a drag a double click does not play, until the next left press.
        dblClick(b);
        QCOMPARE(play.size(), 0);
        later();
        press(b);
        release(b);
        later();
        dblClick(b);
        QCOMPARE(play.size(), 2);

        // An empty pad never drags; neither does a move without the right button.
        SoundButton* empty = make(&host, assigned("e", QString()));
        mouse(empty, QEvent::MouseMove, Qt::NoButton, {40, 40}, Qt::RightButton);
        QVERIFY(!empty->findChild<QDrag*>());
        SoundButton* other = make(&host, assigned("o", "/x/o.wav"));
        mouse(other, QEvent::MouseMove, Qt::NoButton, {40, 40}, Qt::LeftButton);
        QVERIFY(!other->findChild<QDrag*>());
    }

    void rightClickMenuWaitsForReleaseSoDragsCanStart()
    {
        QWidget host;
        host.resize(300, 200);
        SoundButton* b = make(&host, assigned("m", "/x/m.wav"));
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
        int menus = 0;
        TestSupport::ModalScript script([&](const Modal::Request& r) -> QVariant {
            if (r.kind == Modal::Kind::Menu)
                ++menus;
            return QVariant();
        });
        // Right click in place: the menu opens on release.
        QTest::mousePress(b, Qt::RightButton, {}, {30, 30});
        QCOMPARE(menus, 0);
        QTest::mouseRelease(b, Qt::RightButton, {}, {30, 30});
        QCOMPARE(menus, 1);
        // Right press then move: a drag instead of a menu.
        QTest::mousePress(b, Qt::RightButton, {}, {30, 30});
        QTest::mouseMove(b, {50, 50});
        QTest::mouseRelease(b, Qt::RightButton, {}, {50, 50});
        QCOMPARE(menus, 1);
        // The keyboard menu key opens it at once.
        QContextMenuEvent key(QContextMenuEvent::Keyboard, {10, 10}, b->mapToGlobal(QPoint(10, 10)));
        QApplication::sendEvent(b, &key);
        QCOMPARE(menus, 2);
    }

    void dropsOfButtonsAndMusic()
    {
        QWidget host;
        SoundButton* b = make(&host, assigned("own", QString()));
        QSignalSpy swap(b, &SoundButton::buttonSwapRequested);
        QSignalSpy dropped(b, &SoundButton::dropped);

        auto buttonData = [](const QByteArray& payload) {
            auto* md = new QMimeData;
            md->setData("application/x-tarvello-button", payload);
            return md;
        };
        std::unique_ptr<QMimeData> md(buttonData(SoundButton::dragPayload(assigned("other", "/x/o.wav"))));
        bool entered = false;
        QVERIFY(dropOn(b, md.get(), &entered));
        QVERIFY(entered);
        QCOMPARE(swap.size(), 1);
        QCOMPARE(swap.first(), QVariantList({QString("other"), QString("own")}));
        QVERIFY(!b->isDragOver());

        // On itself, without id, or broken: accepted, nothing swapped.
        md.reset(buttonData(SoundButton::dragPayload(assigned("own", "/x/o.wav"))));
        QVERIFY(dropOn(b, md.get()));
        md.reset(buttonData("{\"name\":\"x\"}"));
        QVERIFY(dropOn(b, md.get()));
        md.reset(buttonData("{not json"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^SoundButton: drag payload is not valid JSON: "));
        QVERIFY(dropOn(b, md.get()));
        QCOMPARE(swap.size(), 1);

        // A music-list track.
        md.reset(new QMimeData);
        md->setData("application/x-tarvello-music", QString("/music/Ärger.mp3").toUtf8());
        QVERIFY(dropOn(b, md.get()));
        QCOMPARE(dropped.last(), QVariantList({QString("own"), QString("/music/Ärger.mp3")}));

        // An empty track path falls through to the URLs.
        md.reset(urlData({"/music/fallback.mp3"}));
        md->setData("application/x-tarvello-music", QByteArray());
        QVERIFY(dropOn(b, md.get()));
        QCOMPARE(dropped.last(), QVariantList({QString("own"), QString("/music/fallback.mp3")}));
        QCOMPARE(dropped.size(), 2);
    }

    void dropsOfFiles()
    {
        const QString dir = TestSupport::tempDir();
        QDir().mkpath(dir + "/folder");
        QDir().mkpath(dir + "/looks-like.wav");
        QWidget host;
        SoundButton* b = make(&host, assigned("own", "/x/has-audio.wav"));
        QSignalSpy dropped(b, &SoundButton::dropped);
        QSignalSpy multi(b, &SoundButton::multiDropped);

        std::unique_ptr<QMimeData> md(urlData({dir + "/a.MP3", dir + "/b.txt", dir + "/c.wav"}));
        QVERIFY(dropOn(b, md.get()));
        QCOMPARE(multi.size(), 1);
        QCOMPARE(multi.first().at(0).toString(), QString("own"));
        QCOMPARE(multi.first().at(1).toStringList(), QStringList({dir + "/a.MP3", dir + "/c.wav"}));

        md.reset(urlData({dir + "/one.flac", dir + "/folder", dir + "/looks-like.wav"}));
        QVERIFY(dropOn(b, md.get()));
        QCOMPARE(dropped.size(), 1);
        QCOMPARE(dropped.first().at(1).toString(), QString(dir + "/one.flac"));

        // Nothing usable: refused on entry and on drop.
        md.reset(urlData({dir + "/folder", dir + "/notes.txt", dir + "/looks-like.wav"}));
        bool entered = true;
        QVERIFY(!dropOn(b, md.get(), &entered));
        QVERIFY(!entered);
        md.reset(new QMimeData);
        md->setText("plain text");
        QVERIFY(!dropOn(b, md.get(), &entered));
        QVERIFY(!entered);
        QCOMPARE(dropped.size() + multi.size(), 2);

        // Every accepted suffix, in any case; the suffix is what follows the last dot.
        for (const char* ext : {"mp3", "wav", "ogg", "flac", "aac", "m4a", "wma", "aiff", "aif", "opus", "mp4", "webm"})
            QVERIFY(SoundButton::isAudioFile(QString("/d/x.y.") + QString(ext).toUpper()));
        QVERIFY(!SoundButton::isAudioFile("/d/wav"));
        QVERIFY(!SoundButton::isAudioFile("/d.mp3/file"));
        QVERIFY(!SoundButton::isAudioFile("/d/x.mp3.txt"));

        // Drag over then leave: the highlight comes and goes.
        md.reset(urlData({dir + "/z.ogg"}));
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, md.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(b, &enter);
        QVERIFY(b->isDragOver());
        QDragLeaveEvent leave;
        QApplication::sendEvent(b, &leave);
        QVERIFY(!b->isDragOver());
    }

    void contextMenuEntriesAndRequests()
    {
        QWidget host;
        SoundButton* b = make(&host, assigned("k", QString()));
        QStringList texts;
        bool trimEnabled = true, playEnabled = false;
        QString choose;
        TestSupport::ModalScript script([&](const Modal::Request& r) -> QVariant {
            if (r.kind != Modal::Kind::Menu)
                return QVariant();
            texts = menuTexts(r.menu);
            trimEnabled = actionByText(r.menu, "Audio Trimming")->isEnabled();
            if (QAction* p = actionByText(r.menu, "Play/Stop"))
                playEnabled = p->isEnabled();
            if (QAction* c = actionByText(r.menu, "Clear"))
                [&] { QVERIFY(c->property("danger").toBool()); }();
            return QVariant::fromValue(actionByText(r.menu, choose));
        });

        // An empty pad: trimming off, Play/Stop offered; closing does nothing.
        QSignalSpy play(b, &SoundButton::playRequested);
        b->showContextMenu(QPoint(10, 10));
        QCOMPARE(texts, QStringList({"Play/Stop", "Loop", "SuperButton (2×2)", "-", "Assign Audio", "Audio Trimming",
                                     "-", "Button Color", "Text Color", "Rename", "Add Image", "Shortcut Key",
                                     "MIDI Learn", "-", "Clear"}));
        QVERIFY(!trimEnabled);
        QVERIFY(playEnabled);
        QCOMPARE(play.size(), 0);
        choose = "Play/Stop";
        b->showContextMenu(QPoint(10, 10));
        QCOMPARE(play.size(), 1);

        // An assigned, playing pad with a MIDI mapping.
        b->setButtonData(assigned("k", "/x/k.wav"));
        b->setPlaying(true);
        b->setHasMidi(true);
        choose.clear();
        b->showContextMenu(QPoint(10, 10));
        QCOMPARE(texts.first(), QString("Stop"));
        QVERIFY(texts.contains("Clear MIDI Assignment"));
        QVERIFY(trimEnabled);

        QSignalSpy stop(b, &SoundButton::stopRequested);
        QSignalSpy edit(b, &SoundButton::editRequested);
        QSignalSpy assign(b, &SoundButton::assignRequested);
        QSignalSpy clear(b, &SoundButton::clearRequested);
        const QList<QPair<QString, QString>> edits = {
            {"Loop", "k:loop"},         {"SuperButton (2×2)", "k:super"}, {"Audio Trimming", "k:trim"},
            {"Button Color", "k:color"}, {"Text Color", "k:txtcolor"},     {"Rename", "k:name"},
            {"Add Image", "k:img"},      {"Shortcut Key", "k:key"},        {"MIDI Learn", "k:midi"},
            {"Clear MIDI Assignment", "k:midiclear"}};
        for (const auto& [entry, request] : edits) {
            choose = entry;
            b->showContextMenu(QPoint(10, 10));
            QCOMPARE(edit.last().at(0).toString(), request);
        }
        QCOMPARE(edit.size(), edits.size());
        QVERIFY(b->buttonData().loop);
        QVERIFY(b->buttonData().super);
        choose = "Loop";   // checked now: choosing again turns it off
        b->showContextMenu(QPoint(10, 10));
        QVERIFY(!b->buttonData().loop);

        choose = "Stop";
        b->showContextMenu(QPoint(10, 10));
        choose = "Assign Audio";
        b->showContextMenu(QPoint(10, 10));
        choose = "Clear";
        b->showContextMenu(QPoint(10, 10));
        QCOMPARE(stop.size(), 1);
        QCOMPARE(assign.size(), 1);
        QCOMPARE(clear.size(), 1);
        QCOMPARE(clear.first().at(0).toString(), QString("k"));

        // Loop and SuperButton look different on and off, in a dark and a
        // light preset, as the menu draws them.
        for (ThemeManager::Preset preset : {ThemeManager::Dark, ThemeManager::LightClassic}) {
            ThemeManager::instance()->applyPreset(preset);
            QCoreApplication::processEvents();
            for (const char* entry : {"Loop", "SuperButton (2×2)"}) {
                QImage pictures[2];
                for (bool on : {false, true}) {
                    ButtonData d = assigned("k", "/x/k.wav");
                    d.loop = d.super = on;
                    b->setButtonData(d);
                    TestSupport::ModalScript look([&](const Modal::Request& r) -> QVariant {
                        if (r.kind == Modal::Kind::Menu)
                            pictures[on] = entryPicture(r.menu, actionByText(r.menu, QString::fromUtf8(entry)));
                        return QVariant();
                    });
                    b->showContextMenu(QPoint(10, 10));
                }
                QVERIFY(!pictures[0].isNull());
                QVERIFY2(pictures[0] != pictures[1], entry);
            }
        }
        ThemeManager::instance()->applyPreset(ThemeManager::Dark);
    }

    void stateResetsAndGlow()
    {
        QWidget host;
        SoundButton* b = make(&host, assigned("s", "/x/s.wav"));
        b->setPlaying(true);
        QVERIFY(b->isGlowRunning());
        QCOMPARE(b->property("playing").toBool(), true);
        b->setTriggerMark(SoundButton::TriggeredByWindow);
        b->setPosition(1500, 4000);
        b->setPlaying(false);
        QVERIFY(!b->isGlowRunning());
        QCOMPARE(b->glowOpacity(), 0.0f);
        QCOMPARE(b->triggerMark(), quint8(0));
        QCOMPARE(b->positionMs(), qint64(0));
        QCOMPARE(b->durationMs(), qint64(0));

        // A new record returns the pad to idle but leaves the style property alone.
        b->setPlaying(true);
        b->setButtonData(assigned("s2", "/x/s2.wav"));
        QVERIFY(!b->isPlaying());
        QVERIFY(!b->isGlowRunning());
        QCOMPARE(b->property("playing").toBool(), true);

        // The MIDI badge follows the mapping table.
        MidiMapping m;
        m.channel = 1;
        m.number = 40;
        m.buttonId = "mapped";
        MidiManager::instance()->addMapping(m);
        b->setButtonData(assigned("mapped", "/x/m.wav"));
        QVERIFY(b->hasMidi());
        MidiManager::instance()->removeMapping("mapped");
        b->setButtonData(assigned("mapped", "/x/m.wav"));
        QVERIFY(!b->hasMidi());

        // An image that does not decode leaves the pad without one; painting still works.
        ButtonData bad = assigned("img", "/x/i.wav");
        bad.img = "bm90IGFuIGltYWdl";
        b->setButtonData(bad);
        QVERIFY(!b->grab().isNull());
    }

    void paintingRules()
    {
        // Contrast: pale yellow gets dark text, dark blue white text.
        QCOMPARE(SoundButton::contrastColor(QColor("#FFF59D"), 240, 210), QColor(30, 30, 30, 210));
        QCOMPARE(SoundButton::contrastColor(QColor("#0D1B4A"), 240, 210), QColor(255, 255, 255, 240));
        // Mid grey sits below the 0.35 luminance threshold.
        QCOMPARE(SoundButton::contrastColor(QColor(128, 128, 128), 1, 2).alpha(), 1);

        // rh 47: small layout, no badges, font between 7 and rh / 5.
        SoundButton::TextLayout L = SoundButton::textLayout(QRectF(0.5, 0.5, 100, 47), 30, false);
        QVERIFY(!L.badges);
        QCOMPARE(L.noteSize, 0);
        QCOMPARE(L.top, 3);
        QCOMPARE(L.fontPx, 9);
        QCOMPARE(SoundButton::textLayout(QRectF(0, 0, 100, 30), 10, false).fontPx, 7);
        QCOMPARE(SoundButton::textLayout(QRectF(0, 0, 100, 47), 8, true).bottom, 31);
        // rh 60: badges, a 14 px note, one pixel smaller font (at least 8).
        L = SoundButton::textLayout(QRectF(0, 0, 100, 60), 12, false);
        QVERIFY(L.badges);
        QCOMPARE(L.fontPx, 11);
        QCOMPARE(SoundButton::textLayout(QRectF(0, 0, 100, 60), 0, false).fontPx, 9);
        QCOMPARE(SoundButton::textLayout(QRectF(0, 0, 100, 60), 8, false).fontPx, 8);
        QCOMPARE(L.noteSize, 14);
        QCOMPARE(L.noteTop, 25 + (50 - 25 - 14) / 3);
        QCOMPARE(L.top, L.noteTop + 16);
        // Taller pads: the note grows with the width, between 16 and 24, font unchanged.
        L = SoundButton::textLayout(QRectF(0, 0, 100, 100), 12, false);
        QCOMPARE(L.noteSize, 24);
        QCOMPARE(L.fontPx, 12);
        QCOMPARE(SoundButton::textLayout(QRectF(0, 0, 20, 100), 12, false).noteSize, 16);
        // Too little room between top and bottom: no note.
        QCOMPARE(SoundButton::textLayout(QRectF(0, 0, 100, 50), 12, true).noteSize, 0);

        // Remaining time rounds up; red below 3 s, orange below 5 s.
        QCOMPARE(SoundButton::remainingText(2500), QString("-0:03"));
        QCOMPARE(SoundButton::remainingColor(2500, Qt::white), QColor(255, 70, 70));
        QCOMPARE(SoundButton::remainingText(4000), QString("-0:04"));
        QCOMPARE(SoundButton::remainingColor(4000, Qt::white), QColor(255, 165, 40));
        QCOMPARE(SoundButton::remainingColor(2999, Qt::white), QColor(255, 70, 70));
        QCOMPARE(SoundButton::remainingColor(3000, Qt::white), QColor(255, 165, 40));
        QCOMPARE(SoundButton::remainingColor(5000, Qt::white), QColor(Qt::white));
        QCOMPARE(SoundButton::remainingText(0), QString("-0:00"));
        QCOMPARE(SoundButton::remainingText(-20), QString("-0:00"));
        QCOMPARE(SoundButton::remainingText(60001), QString("-1:01"));
        QCOMPARE(SoundButton::durationText(125999), QString("2:05"));

        // Empty pad hints by size.
        QCOMPARE(SoundButton::emptyHint(50, 40), QString("assign"));
        QCOMPARE(SoundButton::emptyHint(61, 46), QString("click to assign"));
        QCOMPARE(SoundButton::emptyHint(60, 46), QString("assign"));
        QCOMPARE(SoundButton::emptyHint(35, 100), QString());

        // A key that plays something else: its badge is dimmed and struck
        // through (only the badge's corner changes) and the pad's tip names
        // the holder; a key of its own draws as before and has no tip.
        ButtonData d;
        d.id = "pad";
        d.name = "Pad";
        d.audioPath = "/sounds/pad.wav";
        d.key = "4";
        SoundButton b;
        b.resize(120, 80);
        b.setButtonData(d);
        QString holder;
        SoundButton::setKeyHolderLookup([&holder](const ButtonData& asked) {
            return asked.id == QLatin1String("pad") ? holder : QString();
        });
        auto unhook = qScopeGuard([] { SoundButton::setKeyHolderLookup(nullptr); });
        const QImage own = b.grab().toImage();
        QCOMPARE(b.keyHolder(), QString());
        holder = QStringLiteral("button \"Kick\" on tab 'Drums'");
        QCOMPARE(b.keyHolder(), holder);
        const QImage taken = b.grab().toImage();
        const QRect changed = TestSupport::changedRect(own, taken);
        QVERIFY(!changed.isEmpty());
        QVERIFY2(changed.left() >= own.width() / 2 && changed.top() >= own.height() * 3 / 4,
                 qPrintable(QStringLiteral("%1,%2 %3x%4").arg(changed.x()).arg(changed.y()).arg(changed.width())
                                .arg(changed.height())));
        QHelpEvent tip(QEvent::ToolTip, QPoint(10, 10), b.mapToGlobal(QPoint(10, 10)));
        QVERIFY(QApplication::sendEvent(&b, &tip));
        QTRY_COMPARE(QToolTip::text(), QStringLiteral("Key \"4\" is already assigned to button \"Kick\" on tab "
                                                      "'Drums'. Pressing it does not play this pad."));
        QToolTip::hideText();
        holder.clear();
        QCOMPARE(b.grab().toImage(), own);
    }

    // A key that plays something else stays dimmed, below the key of a pad's
    // own, yet reads: 3 : 1 or more against its badge, on a pad without a
    // colour (the preset's surface) and on every colour new pads are given.
    void takenKeyReadsOnItsPad_data()
    {
        QTest::addColumn<int>("preset");
        const QMetaEnum presets = QMetaEnum::fromType<ThemeManager::Preset>();
        for (int i = 0; i < presets.keyCount(); ++i)
            QTest::newRow(presets.key(i)) << presets.value(i);
    }
    void takenKeyReadsOnItsPad()
    {
        QFETCH(int, preset);
        ThemeManager::instance()->applyPreset(ThemeManager::Preset(preset));
        QString holder;
        SoundButton::setKeyHolderLookup([&holder](const ButtonData&) { return holder; });
        auto unhook = qScopeGuard([] { SoundButton::setKeyHolderLookup(nullptr); });
        QList<QColor> pads{QColor()};
        for (int i = 0; i < 16; ++i)
            pads << ThemeManager::vibrantColor(i);
        for (const QColor& pad : std::as_const(pads)) {
            ButtonData d;
            d.id = "pad";
            d.name = "Pad";
            d.audioPath = "/sounds/pad.wav";
            d.key = "4";
            d.bgColor = pad;
            SoundButton b;
            b.resize(120, 80);
            b.setButtonData(d);
            holder.clear();
            const QImage own = b.grab().toImage();
            holder = QStringLiteral("button \"Kick\" on tab 'Drums'");
            const QImage taken = b.grab().toImage();
            const QRect badge = TestSupport::changedRect(own, taken);
            QVERIFY(!badge.isEmpty());
            const double struck = TestSupport::drawnContrast(taken, badge);
            const double ownKey = TestSupport::drawnContrast(own, badge);
            const QString what = QStringLiteral("pad %1: struck %2, own %3")
                                     .arg(pad.isValid() ? pad.name() : QStringLiteral("without colour"))
                                     .arg(struck, 0, 'f', 2)
                                     .arg(ownKey, 0, 'f', 2);
            QVERIFY2(struck >= SoundButton::kTakenKeyContrast, qPrintable(what));
            QVERIFY2(struck < ownKey, qPrintable(what));
        }
    }
};

QTEST_MAIN(TstSoundButton)
#include "tst_soundbutton.moc"
