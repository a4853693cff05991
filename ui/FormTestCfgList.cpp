#include "ui/FormTestCfgList.h"

#include <QApplication>
#include <QMouseEvent>

namespace kyvo {

namespace {
constexpr int kTitleButtonsRoom = 90;
}  // namespace

TForm_TestCfgList::TForm_TestCfgList(QWidget* parent) : QDialog(parent) {
    QFont f = font();
    f.setPointSize(8);
    setFont(f);
    ListBox_Cfg = new QListWidget(this);
    ListBox_Cfg->setSelectionMode(QAbstractItemView::SingleSelection);
    ListBox_Cfg->viewport()->installEventFilter(this);
    Button_OK = new QPushButton(this);
    Button_OK->resize(120, 25);
    Button_OK->setEnabled(false);
    Button_OK->setAutoDefault(false);
    connect(Button_OK, &QPushButton::clicked, this, [this] { done(mrOk); });
    connect(ListBox_Cfg, &QListWidget::itemDoubleClicked, this, [this] { done(mrOk); });
}

void TForm_TestCfgList::SetEntries(const QString& caption, const QString& okText,
                                   const QStringList& entries) {
    setWindowTitle(caption);
    Button_OK->setText(okText);
    ListBox_Cfg->clear();
    ListBox_Cfg->addItems(entries);
    const QFontMetrics fm(ListBox_Cfg->font());
    int widest = 0;
    for (const QString& e : entries) widest = std::max(widest, fm.horizontalAdvance(e));
    // The window manager writes the caption in its own, larger title font
    // beside its buttons: the window is made wide enough for that too.
    QFont titleFont = QApplication::font();
    titleFont.setBold(true);
    const int captionRoom = QFontMetrics(titleFont).horizontalAdvance(caption) + kTitleButtonsRoom;
    const int listWidth =
        std::max(fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZ")) + 20,
                 captionRoom - 23);
    const int listHeight = 7 * fm.boundingRect(QStringLiteral("Gg")).height();
    ListBox_Cfg->setHorizontalScrollBarPolicy(widest + 40 > listWidth ? Qt::ScrollBarAsNeeded
                                                                      : Qt::ScrollBarAlwaysOff);
    const int clientWidth = listWidth + 23;
    ListBox_Cfg->setGeometry((clientWidth - listWidth) / 2, 4, listWidth, listHeight);
    Button_OK->move((clientWidth - Button_OK->width()) / 2, 4 + listHeight + 6);
    setFixedSize(clientWidth, listHeight + Button_OK->height() + 50 - 20);
}

int TForm_TestCfgList::selectedIndex() const {
    const auto rows = ListBox_Cfg->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void TForm_TestCfgList::reject() {
    done(mrCancel);
}

bool TForm_TestCfgList::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ListBox_Cfg->viewport() && event->type() == QEvent::MouseButtonRelease) {
        auto* me = static_cast<QMouseEvent*>(event);
        QListWidgetItem* hit = ListBox_Cfg->itemAt(me->position().toPoint());
        if (!hit) ListBox_Cfg->clearSelection();
        Button_OK->setEnabled(hit != nullptr);
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace kyvo
