// Shortcuts: a read-only card of the global keys and per-tab controls.
#include "SettingsDialog.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "SettingsPageKit.h"

using namespace SettingsPageKit;

namespace {

struct Row
{
    const char* key;
    const char* name;
    const char* description;
};

const Row kGlobal[] = {
    {"Space", "Stop All", "Stop all playing sounds"},
    {"Escape", "Panic Stop", "Immediately cut all audio"},
    {"Ctrl+N", "New Session", "Create a new empty session"},
    {"Ctrl+O", "Open Session", "Open a saved session file"},
    {"Ctrl+S", "Save Session", "Save current session"},
    {"Ctrl+Shift+S", "Save As", "Save to a new file"},
    {"Ctrl+,", "Settings", "Open the settings dialog"},
};
// Every key and place below is one the main window has: Ctrl+1 to Ctrl+9
// switch tabs, a button fires on its own key, and a tab's stop and volume
// keys and their MIDI learn live in the menus of each grid header's Stop
// button and volume slider.
const Row kPerTab[] = {
    {"Ctrl+1 – 9", "Switch Tabs", "Switch to tab 1–9"},
    {"Ctrl+T", "New Tab", "Add a new tab to the current set"},
    {"Button's key", "Trigger a Button", "Right-click any sound button → Shortcut Key"},
};
const Row kMidi[] = {{"Tools → Settings", "Open MIDI Settings", "Its MIDI page connects your MIDI controller"}};

} // namespace

void SettingsDialog::buildShortcutsPage()
{
    const ThemeColors c = ThemeManager::instance()->colors();
    auto* page = new QWidget;
    QVBoxLayout* v = pageLayout(page, 12);

    auto makeRow = [](const QString& keyCap, const QString& name, const QString& description) {
        const ThemeColors now = ThemeManager::instance()->colors();
        auto* row = new QWidget;
        row->setObjectName(QStringLiteral("shortcutRow"));
        auto* h = new QHBoxLayout(row);
        h->setContentsMargins(0, 0, 0, 0);
        h->setSpacing(10);
        auto* cap = new QLabel(keyCap);
        cap->setObjectName(QStringLiteral("keyCap"));
        cap->setStyleSheet(QStringLiteral("background:%1;color:%2;border:1px solid %3;border-radius:4px;padding:3px 8px;"
                                          "font-family:Consolas;font-size:11px;font-weight:600;")
                               .arg(now.surfaceAlt.name(), readableInk(now, now.accent).name(), now.border.name()));
        cap->setAlignment(Qt::AlignCenter);
        // The caps form a column at least 120 px wide; a longer cap (a place
        // such as "Tools → Settings") is never cut.
        cap->ensurePolished();
        cap->setMinimumWidth(std::max(120, cap->sizeHint().width()));
        cap->setFixedHeight(26);
        auto* text = new QLabel;
        text->setTextFormat(Qt::RichText);
        text->setStyleSheet(QStringLiteral("color:%1;").arg(now.text.name()));
        QString html = QStringLiteral("<b>") + name + QStringLiteral("</b>");
        if (!description.isEmpty())
            html += QStringLiteral("<br><small style='color:") + readableInk(now, now.textMuted).name() + QStringLiteral(";'>")
                + description + QStringLiteral("</small>");
        text->setText(html);
        h->addWidget(cap, 0);
        h->addWidget(text, 1);
        return row;
    };
    auto group = [&](const QString& title, const Row* rows, int n) {
        QGroupBox* g = makeGroup(title);
        auto* gl = new QVBoxLayout(g);
        gl->setSpacing(4);
        for (int i = 0; i < n; ++i)
            gl->addWidget(makeRow(QString::fromUtf8(rows[i].key), QString::fromUtf8(rows[i].name),
                                  QString::fromUtf8(rows[i].description)));
        v->addWidget(g);
        return gl;
    };

    group(QStringLiteral("Global Shortcuts"), kGlobal, int(std::size(kGlobal)));
    QVBoxLayout* perTab = group(QStringLiteral("Per-Tab Controls"), kPerTab, int(std::size(kPerTab)));
    auto* tabNote = wrappedLabel(
        QStringLiteral("💡 <b>Per-tab Stop:</b> Right-click the ■ Stop button in a grid's header → Assign Keyboard "
                       "Shortcut.\nEach tab can have its own stop key independent of the global Space bar stop. "
                       "<b>Per-tab Volume:</b> Right-click the volume slider in a grid's header → Assign Shortcut — "
                       "Volume Up (or Volume Down)."),
        noteSS(c) + QStringLiteral("padding:4px 0;"));
    tabNote->setObjectName(QStringLiteral("shortcutNote"));
    tabNote->setTextFormat(Qt::RichText);
    perTab->addWidget(tabNote);

    QGroupBox* midiGroup = makeGroup(QStringLiteral("MIDI Assignment"));
    auto* ml = new QVBoxLayout(midiGroup);
    ml->setSpacing(4);
    auto* how = wrappedLabel(
        QStringLiteral("<b>Button MIDI:</b> Right-click any sound button → MIDI Learn, then press a key/pad on your "
                       "controller.<br><b>Volume MIDI:</b> Right-click the VOL slider → MIDI Learn — Volume CC, then "
                       "turn a knob/fader.<br>⏹ <b>Tab Stop MIDI:</b> Right-click the ■ Stop button in a grid's header "
                       "→ MIDI Learn — Stop Tab, then press a pad.<br><b>Tab Volume MIDI:</b> Right-click the volume "
                       "slider in a grid's header → MIDI Learn — Volume CC, then turn a knob/fader."),
        mutedSS(c) + QStringLiteral("line-height:1.6;"));
    how->setObjectName(QStringLiteral("shortcutNote"));
    how->setTextFormat(Qt::RichText);
    ml->addWidget(how);
    ml->addWidget(makeRow(QString::fromUtf8(kMidi[0].key), QString::fromUtf8(kMidi[0].name),
                          QString::fromUtf8(kMidi[0].description)));
    v->addWidget(midiGroup);

    v->addStretch();
    pageStack->addWidget(scrollPage(page));
}
