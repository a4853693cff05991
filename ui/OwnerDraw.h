// The window's own drawing of its menus and of its status bar panels.
#pragma once

#include <QProgressBar>
#include <QProxyStyle>
#include <QStatusBar>
#include <QString>
#include <QStringList>

namespace kyvo {

// A caption is split at its first two consecutive blanks (or at a tab) into
// the item text and the shortcut text; accelerator marks are removed.
struct MenuCaption {
    QString text;
    QString shortcut;
};
MenuCaption splitMenuCaption(const QString& caption);

// Menu items with flat rounded highlight boxes, their own check marks and
// right-aligned shortcut texts.
class TMenuStyle : public QProxyStyle {
    Q_OBJECT
  public:
    explicit TMenuStyle(QStyle* base = nullptr);

    QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                           const QWidget* widget) const override;
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override;
    int pixelMetric(PixelMetric metric, const QStyleOption* option,
                    const QWidget* widget) const override;
};

// Draws one menu item into rect, as the style does; also used by tests.
struct MenuItemLook {
    QString caption;
    bool menuBar = false;
    bool highlighted = false;
    bool enabled = true;
    bool checked = false;
    bool subMenu = false;
};
void drawMenuItem(QPainter& painter, const QRect& rect, const MenuItemLook& item,
                  const QPalette& palette, const QFont& font);
QSize menuItemSize(const MenuItemLook& item, const QFont& font);

// Three panels drawn by the program; panel 1 hosts the progress bar.
class TStatusBar : public QStatusBar {
    Q_OBJECT
  public:
    explicit TStatusBar(QWidget* parent = nullptr);

    void setPanelText(int panel, const QString& text);
    QString panelText(int panel) const;
    QRect panelRect(int panel) const;
    QProgressBar* progressBar() const { return ProgressBar; }

    static constexpr int kPanelCount = 3;
    static constexpr int kProgressPanel = 1;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void layoutPanels();
    QStringList texts_;
    QList<QRect> rects_;
    QProgressBar* ProgressBar;
};

}  // namespace kyvo
