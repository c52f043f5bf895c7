#pragma once
// A paint device that records what is drawn on it instead of pixels: the
// texts with their pen colour, font and place, and the colours areas are
// filled with.
// Lets a test ask "which glyph, in which colour" without reading glyph pixels.
#include <QPaintDevice>
#include <QPaintEngine>
#include <QPainter>
#include <QPainterPath>
#include <QTextItem>

// What was drawn: the texts with their pen colour and font, and the colours
// areas were filled with, in order.
struct Recording
{
    struct Text
    {
        QString text;
        QColor colour;
        QFont font;
        QRectF rect;   // the text's box on the device: its advance by its ascent and descent
    };
    QList<Text> texts;
    QList<QColor> fills;

    QStringList strings() const
    {
        QStringList out;
        for (const Text& t : texts)
            out << t.text;
        return out;
    }
    const Text* find(const QString& text) const
    {
        for (const Text& t : texts)
            if (t.text == text)
                return &t;
        return nullptr;
    }
};

class RecordingEngine : public QPaintEngine
{
public:
    Recording rec;

    RecordingEngine() : QPaintEngine(QPaintEngine::AllFeatures) {}
    bool begin(QPaintDevice*) override { return true; }
    bool end() override { return true; }
    Type type() const override { return QPaintEngine::User; }
    void updateState(const QPaintEngineState& s) override
    {
        if (s.state() & DirtyPen)
            m_pen = s.pen();
        if (s.state() & DirtyBrush)
            m_brush = s.brush();
        if (s.state() & DirtyFont)
            m_font = s.font();
    }
    void drawTextItem(const QPointF& at, const QTextItem& item) override
    {
        const QRectF box(at.x(), at.y() - item.ascent(), item.width(), item.ascent() + item.descent());
        const QTransform toDevice = painter() ? painter()->deviceTransform() : QTransform();
        rec.texts.append({item.text(), m_pen.color(), item.font(), toDevice.mapRect(box)});
    }
    void drawRects(const QRectF* rects, int count) override { fill(count); }
    void drawRects(const QRect* rects, int count) override { fill(count); }
    void drawPath(const QPainterPath&) override { fill(1); }
    void drawPolygon(const QPointF*, int, PolygonDrawMode) override { fill(1); }
    void drawEllipse(const QRectF&) override { fill(1); }
    void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}

private:
    void fill(int count)
    {
        if (m_brush.style() != Qt::NoBrush)
            for (int i = 0; i < count; ++i)
                rec.fills << m_brush.color();
    }
    QPen m_pen;
    QBrush m_brush;
    QFont m_font;
};

class RecordingDevice : public QPaintDevice
{
public:
    explicit RecordingDevice(QSize size) : m_size(size) {}
    RecordingEngine engine;
    QPaintEngine* paintEngine() const override { return const_cast<RecordingEngine*>(&engine); }

protected:
    int metric(PaintDeviceMetric m) const override
    {
        switch (m) {
        case PdmWidth: return m_size.width();
        case PdmHeight: return m_size.height();
        case PdmDpiX: case PdmDpiY: case PdmPhysicalDpiX: case PdmPhysicalDpiY: return 96;
        case PdmDevicePixelRatio: return 1;
        case PdmDevicePixelRatioScaled: return int(QPaintDevice::devicePixelRatioFScale());
        case PdmDepth: return 32;
        case PdmNumColors: return 0;
        case PdmWidthMM: return m_size.width() * 254 / 960;
        case PdmHeightMM: return m_size.height() * 254 / 960;
        }
        return 0;
    }

private:
    QSize m_size;
};
