#include "ui/FormSelect.h"

#include <QFontMetrics>

namespace kyvo {

namespace {
constexpr int kGroupBaseHeight = 16;
}

TForm_Select::TForm_Select(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    QFont f = font();
    f.setPointSize(8);
    setFont(f);
    RadioGroup_Select = new QGroupBox(this);
    Label_Select = new QLabel(this);
    Label_Select->setWordWrap(true);
    Label_Select->setTextFormat(Qt::PlainText);
    Label_Select->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Button_OK = new QPushButton(this);
    Button_Cancel = new QPushButton(this);
    for (QPushButton* b : {Button_OK, Button_Cancel}) {
        b->resize(120, 25);
        b->setAutoDefault(false);
    }
    Button_OK->setDefault(true);
    group_ = new QButtonGroup(this);
    connect(Button_OK, &QPushButton::clicked, this, [this] { done(mrOk); });
    connect(Button_Cancel, &QPushButton::clicked, this, [this] { done(mrCancel); });
}

void TForm_Select::SetSelCnt(const QStringList& strings) {
    SelectionCnt = int(strings.size());
    const int width = 3 * Button_OK->width();
    const int margin = 8;
    const int clientWidth = width - 2 * margin;
    const QFontMetrics fm(Label_Select->font());
    // As many text lines as the prompt needs when wrapped at the client width.
    const int lines = (fm.horizontalAdvance(Label_Select->text()) + 5) / clientWidth + 1;
    const int labelHeight =
        std::max(lines * fm.height(), Label_Select->heightForWidth(clientWidth));
    Label_Select->setGeometry(margin, margin, clientWidth, labelHeight);

    qDeleteAll(radios_);
    radios_.clear();
    const QFontMetrics gfm(RadioGroup_Select->font());
    const int rowHeight = gfm.boundingRect(QStringLiteral("Gg")).height() +
                          (RadioGroup_Select->font().pointSize() / 8) * 7;
    int groupHeight = kGroupBaseHeight;
    for (int i = 0; i < strings.size(); ++i) {
        auto* radio = new QRadioButton(strings[i], RadioGroup_Select);
        radio->setGeometry(8, kGroupBaseHeight / 2 + i * rowHeight, clientWidth - 16, rowHeight);
        radio->show();
        group_->addButton(radio, i);
        radios_.append(radio);
        groupHeight += rowHeight;
    }
    const int groupTop = Label_Select->geometry().bottom() + 1 + 4;
    RadioGroup_Select->setGeometry(margin, groupTop, clientWidth, groupHeight);
    const int buttonTop = groupTop + groupHeight + 10;
    Button_Cancel->move(width - 7 - Button_Cancel->width(), buttonTop);
    Button_OK->move(Button_Cancel->x() - 5 - Button_OK->width(), buttonTop);
    setFixedSize(width, labelHeight + groupHeight + Button_OK->height() + 34);
}

int TForm_Select::itemIndex() const {
    return group_->checkedId();
}

void TForm_Select::setItemIndex(int index) {
    if (index >= 0 && index < radios_.size()) radios_[index]->setChecked(true);
}

void TForm_Select::reject() {
    done(mrCancel);
}

}  // namespace kyvo
