#pragma once
#include <QDialog>
#include <QPointer>

#include "Types.h"

class MediaPlayer;
class QPlainTextEdit;

// The developer's log window: coloured, time-stamped lines; Qt's debug and
// warning messages arrive here through the message handler, every start and
// stop of the audio engine is logged, and two tests look at the engine's
// state and at seeking to a trim point. One window for the process, made on
// first use; closing only hides it.
class DebugWindow : public QDialog
{
    Q_OBJECT
public:
    static constexpr int kMaxLines = 2000;

    static DebugWindow* instance();
    explicit DebugWindow(QWidget* parent = nullptr);
    ~DebugWindow() override;

    QPlainTextEdit* view() const { return m_view; }
    // The player of the running trim test, null when none runs.
    MediaPlayer* trimPlayer() const;

    // The colour of a category's tag and text.
    static QString colorFor(const QString& category);
    // One log line as HTML: time stamp, [category], message (escaped).
    static QString formatLine(const QString& stamp, const QString& category, const QString& msg);

public slots:
    void log(const QString& category, const QString& msg);
    void testAudioEngine();
    void testTrim();

private:
    void releaseTrimPlayer(MediaPlayer* player);

    static DebugWindow* s_instance;
    QPlainTextEdit* m_view = nullptr;
    QPointer<MediaPlayer> m_trimPlayer;
};
