// Draws the program's logo and writes logo.png, icons/logo.png and
// vx_ruzoru_icon.ico into the folder given as the first argument.
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

static QImage drawLogo(int size)
{
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, size, size);
    g.setColorAt(0, QColor("#1E88E5"));
    g.setColorAt(1, QColor("#0D47A1"));
    QPainterPath frame;
    frame.addRoundedRect(QRectF(0, 0, size, size), size * 0.18, size * 0.18);
    p.fillPath(frame, g);
    // A 3 x 3 cartwall of pads, one of them lit.
    const double m = size * 0.16, gap = size * 0.05;
    const double cell = (size - 2 * m - 2 * gap) / 3.0;
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) {
            QRectF rc(m + c * (cell + gap), m + r * (cell + gap), cell, cell);
            p.setPen(Qt::NoPen);
            p.setBrush(r == 1 && c == 1 ? QColor("#FFB300") : QColor(255, 255, 255, 200));
            p.drawRoundedRect(rc, cell * 0.2, cell * 0.2);
        }
    return img;
}

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QDir().mkpath(out + "/icons");
    const QImage big = drawLogo(256);
    big.save(out + "/logo.png");
    big.save(out + "/icons/logo.png");
    drawLogo(64).save(out + "/vx_ruzoru_icon.ico", "ICO");
    return 0;
}
