#include "ui/OwnerDraw.h"

#include <QPainter>
#include <QStyleOptionMenuItem>

namespace kyvo {

namespace {
const QColor kHighlightFrame(176, 202, 255);
const QColor kHighlightFill(228, 234, 243);
const QColor kDisabledText(160, 160, 160);
const QColor kDisabledFrame(208, 208, 208);
const QColor kDisabledFill(236, 236, 236);
const QColor kCheck(0, 0, 240);

QFont menuFont(const QFont& base) {
    QFont f = base;
    f.setPointSize(8);
    return f;
}

QString stripAccelerators(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'&') {
            if (i + 1 < text.size() && text[i + 1] == u'&') {
                out += u'&';
                ++i;
            }
            continue;
        }
        out += text[i];
    }
    return out;
}
}  // namespace

MenuCaption splitMenuCaption(const QString& caption) {
    const QString clean = stripAccelerators(caption);
    qsizetype at = clean.indexOf(QStringLiteral("  "));
    qsizetype skip = 2;
    const qsizetype tab = clean.indexOf(u'\t');
    if (tab >= 0 && (at < 0 || tab < at)) {
        at = tab;
        skip = 1;
    }
    if (at < 0) return {clean, QString()};
    return {clean.left(at), clean.mid(at + skip).trimmed()};
}

QSize menuItemSize(const MenuItemLook& item, const QFont& font) {
    const QFontMetrics fm(menuFont(font));
    const MenuCaption c = splitMenuCaption(item.caption);
    int width = fm.horizontalAdvance(c.text);
    if (!c.shortcut.isEmpty()) width += fm.horizontalAdvance(QStringLiteral("  ") + c.shortcut);
    const int height = fm.boundingRect(QStringLiteral("Gg")).height() + 8;
    // Menu bar items get room for the 10-pixel indent on both sides; other
    // items for the check square and the right margin.
    width += item.menuBar ? 20 : 25 + height;
    return {width, height};
}

void drawMenuItem(QPainter& painter, const QRect& rect, const MenuItemLook& item,
                  const QPalette& palette, const QFont& font) {
    painter.save();
    painter.setFont(menuFont(font));
    const int l = rect.left();
    const int t = rect.top();
    const int r = rect.left() + rect.width();
    const int b = rect.top() + rect.height();
    const int h = b - t;

    QColor fill = palette.color(QPalette::Window);
    QColor frame = fill;
    QColor text = palette.color(QPalette::WindowText);
    int penWidth = 0;
    if (item.highlighted) {
        penWidth = 1;
        frame = kHighlightFrame;
        fill = kHighlightFill;
    }
    if (!item.enabled) {
        text = kDisabledText;
        if (item.highlighted) {
            frame = kDisabledFrame;
            fill = kDisabledFill;
        }
    }
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(penWidth ? QPen(frame, penWidth) : QPen(Qt::NoPen));
    painter.setBrush(fill);
    painter.drawRoundedRect(QRect(l, t, rect.width() - 1, rect.height() - 1), 1.5, 1.5);

    const MenuCaption c = splitMenuCaption(item.caption);
    const QFontMetrics fm(painter.font());
    painter.setPen(text);
    const int baseline = t + 4 + fm.ascent();
    if (!c.shortcut.isEmpty())
        painter.drawText(r - fm.horizontalAdvance(c.shortcut) - 5, baseline, c.shortcut);
    painter.drawText(item.menuBar ? l + 10 : l + h + 4, baseline, c.text);

    if (item.checked && !item.menuBar) {
        painter.setPen(QPen(item.enabled ? kHighlightFrame : kDisabledFrame, 1));
        painter.setBrush(item.enabled ? kHighlightFill : kDisabledFill);
        painter.drawRoundedRect(QRect(QPoint(l + 3, t + 3), QPoint(l + h - 3, b - 3)), 1.5, 1.5);
        painter.setPen(QPen(item.enabled ? kCheck : kDisabledText, 1));
        const QPoint p1(l + h / 3, b - h / 2);
        const QPoint p2(l + 12 * h / 25, b - 2 * (h / 7));
        const QPoint p3(l + 2 * h / 3, t + 2 * (h / 7));
        painter.drawLine(p1, p2);
        painter.drawLine(p2, p3);
    }
    if (item.subMenu && !item.menuBar) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(text);
        const int cy = t + h / 2;
        const int ax = r - 10;
        painter.drawPolygon(QPolygon({QPoint(ax, cy - 4), QPoint(ax + 4, cy), QPoint(ax, cy + 4)}));
    }
    painter.restore();
}

TMenuStyle::TMenuStyle(QStyle* base) : QProxyStyle(base) {}

QSize TMenuStyle::sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                                   const QWidget* widget) const {
    if (type == CT_MenuItem || type == CT_MenuBarItem) {
        const auto* mi = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
        if (mi && mi->menuItemType != QStyleOptionMenuItem::Separator) {
            MenuItemLook look;
            look.caption = mi->text;
            look.menuBar = type == CT_MenuBarItem;
            return menuItemSize(look, mi->font);
        }
    }
    return QProxyStyle::sizeFromContents(type, option, size, widget);
}

int TMenuStyle::pixelMetric(PixelMetric metric, const QStyleOption* option,
                            const QWidget* widget) const {
    switch (metric) {
        case PM_MenuHMargin:
        case PM_MenuVMargin:
        case PM_MenuBarItemSpacing:
            return 1;
        case PM_MenuPanelWidth:
            return 1;
        default:
            return QProxyStyle::pixelMetric(metric, option, widget);
    }
}

void TMenuStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                             const QWidget* widget) const {
    if (element == CE_MenuItem || element == CE_MenuBarItem) {
        const auto* mi = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
        if (mi && mi->menuItemType != QStyleOptionMenuItem::Separator &&
            mi->menuItemType != QStyleOptionMenuItem::EmptyArea) {
            MenuItemLook look;
            look.caption = mi->text;
            look.menuBar = element == CE_MenuBarItem;
            look.highlighted =
                (mi->state & State_Selected) &&
                (element == CE_MenuItem || (mi->state & (State_Sunken | State_MouseOver)));
            look.enabled = mi->state & State_Enabled;
            look.checked = mi->checkType != QStyleOptionMenuItem::NotCheckable && mi->checked;
            look.subMenu = mi->menuItemType == QStyleOptionMenuItem::SubMenu;
            drawMenuItem(*painter, mi->rect, look, mi->palette, mi->font);
            return;
        }
        if (mi && element == CE_MenuItem && mi->menuItemType == QStyleOptionMenuItem::Separator) {
            painter->fillRect(mi->rect, mi->palette.color(QPalette::Window));
            const int y = mi->rect.center().y();
            painter->setPen(kDisabledFrame);
            painter->drawLine(mi->rect.left() + 4, y, mi->rect.right() - 4, y);
            return;
        }
    }
    QProxyStyle::drawControl(element, option, painter, widget);
}

TStatusBar::TStatusBar(QWidget* parent) : QStatusBar(parent) {
    setSizeGripEnabled(false);
    setFixedHeight(20);
    QFont f = font();
    f.setPointSize(9);
    setFont(f);
    for (int i = 0; i < kPanelCount; ++i) texts_ << QString();
    ProgressBar = new QProgressBar(this);
    ProgressBar->setMinimum(0);
    ProgressBar->setTextVisible(false);
    ProgressBar->setGeometry(1, 1, 100, height() - 1);
    ProgressBar->hide();
    layoutPanels();
}

void TStatusBar::setPanelText(int panel, const QString& text) {
    if (panel < 0 || panel >= kPanelCount || texts_[panel] == text) return;
    texts_[panel] = text;
    layoutPanels();
    update();
}

QString TStatusBar::panelText(int panel) const {
    return panel >= 0 && panel < kPanelCount ? texts_[panel] : QString();
}

QRect TStatusBar::panelRect(int panel) const {
    return panel >= 0 && panel < rects_.size() ? rects_[panel] : QRect();
}

void TStatusBar::layoutPanels() {
    rects_.clear();
    const QFontMetrics fm(font());
    int x = 0;
    for (int i = 0; i < kPanelCount; ++i) {
        const int w = i == kProgressPanel ? 102 : fm.horizontalAdvance(texts_[i]) + 20;
        rects_ << QRect(x, 0, w, height());
        x += w + 2;
    }
    ProgressBar->setGeometry(rects_[kProgressPanel].adjusted(1, 1, -1, -1));
}

void TStatusBar::resizeEvent(QResizeEvent* event) {
    QStatusBar::resizeEvent(event);
    layoutPanels();
}

void TStatusBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QColor face = palette().color(QPalette::Window);
    p.fillRect(rect(), face);
    p.setFont(font());
    const QFontMetrics fm(font());
    for (int i = 0; i < kPanelCount; ++i) {
        const QRect r = rects_[i];
        p.fillRect(r, face);
        p.setPen(palette().color(QPalette::Mid));
        p.drawLine(r.right() + 1, r.top() + 2, r.right() + 1, r.bottom() - 2);
        if (i == kProgressPanel) continue;
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(r.left() + 2, r.top() + (r.height() - fm.height()) / 2 + fm.ascent(), texts_[i]);
    }
}

}  // namespace kyvo
