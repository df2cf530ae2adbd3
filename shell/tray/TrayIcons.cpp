#include "shell/tray/TrayIcons.h"

#include <QPainter>
#include <QPixmap>

namespace {

constexpr int Size = 32;

// A filled disc with a mark: none, a bar, a tick, or an arc of an arrow
// turned by `turn` degrees.
enum class Mark { None, Bar, Tick, Arc };

QIcon Draw(const QColor& fill, Mark mark, int turn = 0)
{
    QPixmap pixmap(Size, Size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(fill.darker(140), 2));
    painter.setBrush(fill);
    painter.drawEllipse(2, 2, Size - 4, Size - 4);
    painter.setPen(QPen(Qt::white, 3, Qt::SolidLine, Qt::RoundCap));
    painter.setBrush(Qt::NoBrush);
    switch (mark) {
    case Mark::Bar: painter.drawLine(10, 16, 22, 16); break;
    case Mark::Tick:
        painter.drawLine(9, 17, 14, 22);
        painter.drawLine(14, 22, 23, 11);
        break;
    case Mark::Arc: painter.drawArc(QRect(9, 9, 14, 14), turn * 16, 270 * 16); break;
    case Mark::None: break;
    }
    return QIcon(pixmap);
}

}  // namespace

TrayIcons::TrayIcons()
{
    icons_[0] = Draw(QColor(0x9e, 0x9e, 0x9e), Mark::None);
    icons_[1] = Draw(QColor(0xb7, 0x3a, 0x3a), Mark::Bar);
    icons_[2] = Draw(QColor(0x2e, 0x8b, 0x57), Mark::Tick);
    icons_[3] = Draw(QColor(0x2f, 0x6f, 0xb5), Mark::Arc, 0);
    icons_[4] = Draw(QColor(0x2f, 0x6f, 0xb5), Mark::Arc, 180);
    main_ = Draw(QColor(0x1f, 0x8a, 0x8a), Mark::Tick);
}

const QIcon& TrayIcons::Icon(int index) const
{
    return icons_[static_cast<std::size_t>(index >= 0 && index < Count ? index : 0)];
}
