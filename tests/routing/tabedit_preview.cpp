// Pictures of edited buttons and of the per-tab playback dialog, for looking
// at them by eye; not a test.
//   tabedit_preview OUT_DIR
#include <QApplication>
#include <QBuffer>
#include <QCheckBox>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QThread>
#include <QTimer>

#include "TabEditSupport.h"
#include "TabPlaybackDialog.h"
#include "ThemeManager.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc < 2)
        return 2;
    const QDir out(QString::fromLocal8Bit(argv[1]));
    ThemeManager::instance()->applyPreset(ThemeManager::Dark);
    GridHeader::setDeviceLister([] {
        return QList<GridHeader::AudioOutput>{{QStringLiteral("Studio Monitors"), QByteArray("hw:studio")},
                                              {QStringLiteral("USB Audio CODEC, channels 3 and 4 (line outputs)"),
                                               QByteArray("hw:usb")}};
    });
    RecordingEngines rec;
    MainWindow* w = RoutingTest::windowOn(rec);
    Session s = TabEdit::board(5, 24);
    s.layoutMode = 2;
    s.tabs[1].useTabPb = true;
    s.tabs[1].pb_as = true;
    s.tabs[1].pb_cts = false;
    s.tabs[2].soundCard = QStringLiteral("alsa_output.usb-Focusrite_Scarlett");
    s.tabs[3].name = QStringLiteral("<b>&amp; 🎵 Jingles");
    s.tabs[4].useTabPb = true;
    s.tabs[4].pb_as = s.tabs[4].pb_rs = s.tabs[4].pb_cts = false;
    RoutingTest::load(s);
    w->resize(1380, 860);
    w->show();

    // Edits as the user makes them: a name, colours, a key, an image, super.
    TabEdit::Script script;
    const QString id = QStringLiteral("t0b0");
    script.answer(QStringLiteral("Morning Show Intro"));
    w->onEditRequested(id, QStringLiteral("name"));
    script.answer(QColor("#e0a030"));
    w->onEditRequested(id, QStringLiteral("color"));
    script.answer(QStringLiteral("m"));
    w->onEditRequested(QStringLiteral("t0b1"), QStringLiteral("key"));
    script.answer(QColor("#203060"));
    w->onEditRequested(QStringLiteral("t0b1"), QStringLiteral("color"));
    QImage pic(900, 600, QImage::Format_RGB32);
    pic.fill(QColor("#2a6f97"));
    {
        QPainter p(&pic);
        p.setBrush(QColor("#f4d35e"));
        p.drawEllipse(QPoint(450, 300), 220, 220);
    }
    const QString picPath = QDir(TestSupport::tempDir()).filePath(QStringLiteral("pic.png"));
    pic.save(picPath);
    script.answer(picPath);
    w->onEditRequested(QStringLiteral("t0b1"), QStringLiteral("img"));
    for (int i = 0; i < 200 && RoutingTest::record(QStringLiteral("t0b1")).img.isEmpty(); ++i) {
        QCoreApplication::processEvents();
        QThread::msleep(10);
    }
    SoundButton* pad = RoutingTest::widget(w, id);
    ButtonData b = pad->buttonData();
    b.super = true;
    pad->setButtonData(b);
    w->onEditRequested(id, QStringLiteral("super"));
    w->onAddTab();
    for (int i = 0; i < 30; ++i) {
        QCoreApplication::processEvents();
        QThread::msleep(10);
    }
    RoutingTestAccess::currentTab(w) = 0;
    w->rebuildTabStrip();
    for (int i = 0; i < 30; ++i) {
        QCoreApplication::processEvents();
        QThread::msleep(10);
    }
    w->grab().save(out.filePath(QStringLiteral("edited-buttons.png")));

    {
    TabPlaybackDialog dialog(SessionManager::instance()->session(), 3, w);
    dialog.show();
    for (int i = 0; i < 30; ++i) {
        QCoreApplication::processEvents();
        QThread::msleep(10);
    }
    dialog.grab().save(out.filePath(QStringLiteral("playback-dialog.png")));
    dialog.overrideBox()->setChecked(true);
    QCoreApplication::processEvents();
    dialog.grab().save(out.filePath(QStringLiteral("playback-dialog-override.png")));
    }
    RoutingTest::closeWindow(w);
    return 0;
}
