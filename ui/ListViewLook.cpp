#include "ui/ListViewLook.h"

#include <QApplication>
#include <QHeaderView>
#include <QHelpEvent>
#include <QStyledItemDelegate>
#include <QToolTip>

namespace kyvo {

namespace {

// A cell too narrow for its text shows the whole text as its tooltip; a cell
// that shows everything shows none.
class TCutCellTipDelegate final : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override {
        if (event->type() != QEvent::ToolTip || !index.isValid())
            return QStyledItemDelegate::helpEvent(event, view, option, index);
        // A tooltip of the model's own (a flag's reason) comes first.
        if (const QString tip = index.data(Qt::ToolTipRole).toString(); !tip.isEmpty()) {
            QToolTip::showText(event->globalPos(), tip, view->viewport(), option.rect);
            return true;
        }
        QStyleOptionViewItem opt(option);
        initStyleOption(&opt, index);
        // The model's own hover text (a mark's meaning) comes below the cut text.
        QString tip = cellTextIsCut(opt, view) ? opt.text : QString();
        const QString own = index.data(Qt::ToolTipRole).toString();
        if (!own.isEmpty()) tip = tip.isEmpty() ? own : tip + QLatin1Char('\n') + own;
        if (!tip.isEmpty()) {
            QToolTip::showText(event->globalPos(), tip, view->viewport(), option.rect);
        } else {
            QToolTip::hideText();
            event->ignore();
        }
        return true;
    }
};

// A header too narrow for its title shows the title's start and an ellipsis.
class TElidingHeader final : public QHeaderView {
  public:
    explicit TElidingHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {}

  protected:
    void initStyleOptionForIndex(QStyleOptionHeader* option, int logicalIndex) const override {
        QHeaderView::initStyleOptionForIndex(option, logicalIndex);
        const int margin = style()->pixelMetric(QStyle::PM_HeaderMargin, option, this);
        int room = sectionSize(logicalIndex) - 2 * margin;
        if (isSortIndicatorShown() && sortIndicatorSection() == logicalIndex)
            room -= style()->pixelMetric(QStyle::PM_HeaderMarkSize, option, this) + margin;
        option->text = option->fontMetrics.elidedText(option->text, Qt::ElideRight, room);
    }
};

}  // namespace

bool cellTextIsCut(const QStyleOptionViewItem& option, const QWidget* widget) {
    if (option.text.isEmpty()) return false;
    const QStyle* style = widget ? widget->style() : QApplication::style();
    const QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &option, widget);
    // The style keeps this margin on both sides of the text inside its rectangle.
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    return option.fontMetrics.horizontalAdvance(option.text) > textRect.width() - 2 * margin;
}

void setupList(QTableView* view) {
    view->setHorizontalHeader(new TElidingHeader(view));
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setShowGrid(false);
    view->setWordWrap(false);
    view->setSortingEnabled(false);
    view->verticalHeader()->hide();
    // Fixed row heights keep the virtual list cheap: nothing is measured.
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 4);
    view->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    // A narrow header keeps the start of its title, as the cells do.
    view->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    view->horizontalHeader()->setTextElideMode(Qt::ElideRight);
    view->setTextElideMode(Qt::ElideRight);
    view->setItemDelegate(new TCutCellTipDelegate(view));
    view->horizontalHeader()->setHighlightSections(false);
    view->horizontalHeader()->setSortIndicatorShown(false);
    view->horizontalHeader()->setSectionsClickable(true);
    view->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
}

void showSortArrow(QTableView* view, int column, ESortType mode) {
    QHeaderView* h = view->horizontalHeader();
    if (mode >= Unsorted) {
        h->setSortIndicatorShown(false);
        return;
    }
    h->setSortIndicatorShown(true);
    h->setSortIndicator(column, isDescending(mode) ? Qt::DescendingOrder : Qt::AscendingOrder);
}

}  // namespace kyvo
