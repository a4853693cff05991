#include "ui/InputQuery.h"

#include <QKeyEvent>

namespace kyvo {

TForm_InputQuery::TForm_InputQuery(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    QFont f = font();
    f.setPointSize(8);
    setFont(f);
    Edit_Input = new QLineEdit(this);
    Button_OK = new QPushButton(this);
    Button_Cancel = new QPushButton(this);
    Label_InputQuery = new QLabel(this);
    Label_InputQuery->setWordWrap(true);
    Label_InputQuery->setTextFormat(Qt::PlainText);
    Label_InputQuery->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    for (QPushButton* b : {Button_OK, Button_Cancel}) {
        b->resize(120, 25);
        b->setAutoDefault(false);
    }
    connect(Button_OK, &QPushButton::clicked, this, [this] { done(mrOk); });
    connect(Button_Cancel, &QPushButton::clicked, this, [this] { done(mrCancel); });
    // Enter accepts only a non-empty text; the OK button accepts any.
    connect(Edit_Input, &QLineEdit::returnPressed, this, [this] {
        if (!Edit_Input->text().isEmpty()) done(mrOk);
    });
}

void TForm_InputQuery::SetQuery(const QString& cap, const QString& msg, const QString& okText,
                                const QString& cancelText) {
    setWindowTitle(cap);
    const int width = 3 * Button_OK->width();
    Label_InputQuery->setText(msg);
    const int labelHeight = Label_InputQuery->heightForWidth(width - 40);
    Label_InputQuery->setGeometry(16, 16, width - 40, labelHeight);
    const int editHeight = Edit_Input->sizeHint().height();
    Edit_Input->setGeometry(50, Label_InputQuery->geometry().bottom() + 1 + 20, width - 100,
                            editHeight);
    const int buttonTop = Edit_Input->geometry().bottom() + 1 + 20;
    Button_OK->move(width / 2 - Button_OK->width() - 5, buttonTop);
    Button_OK->setText(okText);
    Button_Cancel->move(width / 2 + 5, buttonTop);
    Button_Cancel->setText(cancelText);
    setFixedSize(width, labelHeight + editHeight + Button_OK->height() + 100);
}

void TForm_InputQuery::keyPressEvent(QKeyEvent* event) {
    // Enter on the buttons or an empty edit must not fall through to the
    // dialog's default handling, which would accept.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (Edit_Input->hasFocus() && !Edit_Input->text().isEmpty()) done(mrOk);
        return;
    }
    QDialog::keyPressEvent(event);
}

void TForm_InputQuery::reject() {
    done(mrCancel);
}

}  // namespace kyvo
