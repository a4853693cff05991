#include "ui/FormMessageBox.h"

#include <QCloseEvent>

namespace kyvo {

namespace {
constexpr int kButtonWidth = 120;
constexpr int kButtonHeight = 25;
constexpr int kLabelTop = 16;
constexpr int kBottomMargin = 16;
}  // namespace

TForm_OwnMessageBox::TForm_OwnMessageBox(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    QFont f = font();
    f.setPointSize(8);
    setFont(f);
    Label_Message = new QLabel(this);
    Label_Message->setWordWrap(true);
    Label_Message->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label_Message->setTextFormat(Qt::PlainText);
    Button_OK = new QPushButton(this);
    Button_Cancel = new QPushButton(this);
    Button_Aux = new QPushButton(this);
    CheckBox_1 = new QCheckBox(this);
    CheckBox_1->hide();
    for (QPushButton* b : {Button_OK, Button_Cancel, Button_Aux}) {
        b->resize(kButtonWidth, kButtonHeight);
        b->setAutoDefault(false);
    }
    Button_OK->setDefault(true);
    connect(Button_OK, &QPushButton::clicked, this,
            [this] { finish(MsgType == msYesNoCancel || MsgType == msYesNo ? mrYes : mrOk); });
    connect(Button_Cancel, &QPushButton::clicked, this,
            [this] { finish(MsgType == msOkCancel ? mrCancel : mrNo); });
    connect(Button_Aux, &QPushButton::clicked, this, [this] { finish(mrCancel); });
}

void TForm_OwnMessageBox::SetMessage(const QString& cap, const QString& msg, int msgStyle,
                                     const QString& okText, const QString& cancelText,
                                     const QString& auxText) {
    if (msgStyle != msOkCancel && msgStyle != msYesNoCancel && msgStyle != msYesNo) msgStyle = msOk;
    MsgType = msgStyle;
    setWindowTitle(cap);
    const int bw = Button_OK->width();
    const int width = (msgStyle == msYesNoCancel ? 4 : 3) * bw;

    Label_Message->setText(msg);
    const int labelWidth = width - 40;
    const int labelHeight = Label_Message->heightForWidth(labelWidth);
    Label_Message->setGeometry(16, kLabelTop, labelWidth, labelHeight);
    const int buttonTop = kLabelTop + labelHeight + 20;
    for (QPushButton* b : {Button_OK, Button_Cancel, Button_Aux}) b->move(b->x(), buttonTop);
    // The box's client area ends a margin below the buttons: the larger
    // height the classic layout gives includes the title bar and frame,
    // which the window system adds here on its own.
    setFixedSize(width, buttonTop + Button_OK->height() + kBottomMargin);

    Button_OK->setText(okText);
    Button_Cancel->setText(cancelText);
    Button_Aux->setText(auxText);
    Button_Aux->hide();
    Button_Cancel->show();
    switch (msgStyle) {
        case msOk:
            Button_Cancel->hide();
            Button_OK->move((width - bw) / 2, buttonTop);
            break;
        case msYesNoCancel:
            Button_Aux->show();
            Button_OK->move(width / 2 - 3 * (bw / 2) - 5, buttonTop);
            Button_Cancel->move((width - Button_Cancel->width()) / 2, buttonTop);
            Button_Aux->move((Button_Cancel->width() + width) / 2 + 5, buttonTop);
            break;
        default:
            Button_OK->move(width / 2 - bw - 5, buttonTop);
            Button_Cancel->move(width / 2 + 5, buttonTop);
            break;
    }
}

void TForm_OwnMessageBox::SetDefaultButton(QPushButton* button) {
    for (QPushButton* b : {Button_OK, Button_Cancel, Button_Aux}) b->setDefault(b == button);
    button->setFocus(Qt::OtherFocusReason);
}

void TForm_OwnMessageBox::finish(int result) {
    finishing_ = true;
    done(result);
    finishing_ = false;
}

// Escape must not end the box: the user answers with a button.
void TForm_OwnMessageBox::reject() {}

void TForm_OwnMessageBox::closeEvent(QCloseEvent* event) {
    if (finishing_)
        event->accept();
    else
        event->ignore();
}

MessageButtonEntries messageButtonEntries(int msgStyle) {
    switch (msgStyle) {
        case msOkCancel:
            return {114, 15, 0};
        case msYesNoCancel:
            return {645, 646, 15};
        case msYesNo:
            return {645, 646, 0};
        default:
            return {114, 0, 0};
    }
}

}  // namespace kyvo
