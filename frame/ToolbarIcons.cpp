// The toolbar's pictures, drawn as vectors so that they stay sharp at any screen scale.
#include "frame/ToolbarIcons.h"

#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include "frame/CommandIds.h"

namespace kestrel {

namespace {

// Draws on a 16 x 16 grid scaled to whatever size is asked for.
class DrawnIconEngine : public QIconEngine {
public:
    explicit DrawnIconEngine(int id) : id(id) {}
    QIconEngine* clone() const override { return new DrawnIconEngine(id); }

    void paint(QPainter* p, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
        p->save();
        p->setRenderHint(QPainter::Antialiasing);
        p->translate(rect.topLeft());
        p->scale(rect.width() / 16.0, rect.height() / 16.0);
        if (mode == QIcon::Disabled) {
            p->setOpacity(0.35);
        }
        Draw(*p);
        p->restore();
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        QPixmap pm(size);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        paint(&p, QRect(QPoint(0, 0), size), mode, state);
        return pm;
    }

private:
    void Page(QPainter& p, QRectF r, const QColor& fill) const {
        QPainterPath path;
        path.moveTo(r.left(), r.top());
        path.lineTo(r.right() - 3, r.top());
        path.lineTo(r.right(), r.top() + 3);
        path.lineTo(r.right(), r.bottom());
        path.lineTo(r.left(), r.bottom());
        path.closeSubpath();
        p.setPen(QPen(QColor(60, 60, 60), 0.8));
        p.setBrush(fill);
        p.drawPath(path);
        p.drawLine(QPointF(r.right() - 3, r.top()), QPointF(r.right() - 3, r.top() + 3));
        p.drawLine(QPointF(r.right() - 3, r.top() + 3), QPointF(r.right(), r.top() + 3));
    }

    void Draw(QPainter& p) const {
        const QColor ink(50, 50, 50);
        switch (id) {
            case cmd::kFileNew:
                Page(p, QRectF(3.5, 1.5, 9, 13), Qt::white);
                break;
            case cmd::kFileOpen: {
                p.setPen(QPen(QColor(120, 90, 20), 0.8));
                p.setBrush(QColor(240, 200, 90));
                p.drawRect(QRectF(1.5, 4.5, 12, 9));
                p.setBrush(QColor(250, 220, 120));
                QPolygonF lid;
                lid << QPointF(3.5, 7.5) << QPointF(15, 7.5) << QPointF(13.5, 13.5)
                    << QPointF(1.5, 13.5);
                p.drawPolygon(lid);
                p.setBrush(QColor(240, 200, 90));
                p.drawRect(QRectF(1.5, 3, 5, 1.5));
                break;
            }
            case cmd::kFileSave:
                p.setPen(QPen(QColor(20, 40, 90), 0.8));
                p.setBrush(QColor(60, 90, 170));
                p.drawRoundedRect(QRectF(1.5, 1.5, 13, 13), 1, 1);
                p.setBrush(Qt::white);
                p.drawRect(QRectF(4, 1.5, 8, 5.5));
                p.setBrush(QColor(200, 200, 200));
                p.drawRect(QRectF(4.5, 9.5, 7, 5));
                break;
            case cmd::kEditCut:
                p.setPen(QPen(ink, 1.1));
                p.setBrush(Qt::NoBrush);
                p.drawLine(QPointF(5, 1.5), QPointF(10, 10));
                p.drawLine(QPointF(11, 1.5), QPointF(6, 10));
                p.drawEllipse(QRectF(2.5, 10, 4, 4));
                p.drawEllipse(QRectF(9.5, 10, 4, 4));
                break;
            case cmd::kEditCopy:
                Page(p, QRectF(1.5, 1.5, 8, 10), Qt::white);
                Page(p, QRectF(6.5, 4.5, 8, 10), Qt::white);
                break;
            case cmd::kEditPaste:
                p.setPen(QPen(QColor(100, 70, 30), 0.8));
                p.setBrush(QColor(200, 160, 90));
                p.drawRoundedRect(QRectF(1.5, 2.5, 10, 12), 1, 1);
                p.setBrush(QColor(160, 160, 160));
                p.drawRect(QRectF(4, 1.5, 5, 2.5));
                Page(p, QRectF(6.5, 6.5, 8, 8), Qt::white);
                break;
            case cmd::kFilePrint:
                Page(p, QRectF(4.5, 1.5, 7, 6), Qt::white);
                p.setPen(QPen(ink, 0.8));
                p.setBrush(QColor(190, 190, 190));
                p.drawRoundedRect(QRectF(1.5, 6.5, 13, 6), 1, 1);
                p.setBrush(Qt::white);
                p.drawRect(QRectF(4.5, 10.5, 7, 4));
                p.setBrush(QColor(40, 170, 40));
                p.setPen(Qt::NoPen);
                p.drawEllipse(QRectF(12, 8, 1.6, 1.6));
                break;
            case cmd::kAppAbout:
            case cmd::kContextHelp: {
                const bool arrow = id == cmd::kContextHelp;
                if (arrow) {
                    QPolygonF a;
                    a << QPointF(1, 1) << QPointF(1, 11) << QPointF(3.5, 8.5) << QPointF(5.5, 12.5)
                      << QPointF(7, 11.8) << QPointF(5, 8) << QPointF(8.5, 8);
                    p.setPen(QPen(Qt::black, 0.7));
                    p.setBrush(Qt::white);
                    p.drawPolygon(a);
                }
                const QRectF ball = arrow ? QRectF(8, 5, 7.5, 7.5) : QRectF(2, 2, 12, 12);
                p.setPen(QPen(QColor(20, 60, 140), 0.8));
                p.setBrush(QColor(50, 110, 210));
                p.drawEllipse(ball);
                QFont f;
                f.setBold(true);
                f.setPixelSize(arrow ? 6 : 10);
                p.setFont(f);
                p.setPen(Qt::white);
                p.drawText(ball, Qt::AlignCenter, QStringLiteral("?"));
                break;
            }
            default:
                break;
        }
    }

    int id;
};

const char* ThemeName(int id) {
    switch (id) {
        case cmd::kFileNew:
            return "document-new";
        case cmd::kFileOpen:
            return "document-open";
        case cmd::kFileSave:
            return "document-save";
        case cmd::kEditCut:
            return "edit-cut";
        case cmd::kEditCopy:
            return "edit-copy";
        case cmd::kEditPaste:
            return "edit-paste";
        case cmd::kFilePrint:
            return "document-print";
        case cmd::kAppAbout:
            return "help-about";
        case cmd::kContextHelp:
            return "help-contextual";
        default:
            return "";
    }
}

}  // namespace

QIcon DrawnToolbarIcon(int commandId) {
    return QIcon(new DrawnIconEngine(commandId));
}

QIcon ToolbarIcon(int commandId) {
    // Only a theme that has the whole set is used, so that the bar never mixes two styles.
    static const bool themeComplete = [] {
        for (int id : {cmd::kFileNew, cmd::kFileOpen, cmd::kFileSave, cmd::kEditCut, cmd::kEditCopy,
                       cmd::kEditPaste, cmd::kFilePrint, cmd::kAppAbout, cmd::kContextHelp}) {
            if (!QIcon::hasThemeIcon(QString::fromLatin1(ThemeName(id)))) {
                return false;
            }
        }
        return true;
    }();
    if (themeComplete) {
        return QIcon::fromTheme(QString::fromLatin1(ThemeName(commandId)));
    }
    return DrawnToolbarIcon(commandId);
}

}  // namespace kestrel
