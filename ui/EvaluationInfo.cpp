#include "ui/EvaluationInfo.h"

#include <algorithm>

namespace kyvo {

TForm_EvaluationInfo::TForm_EvaluationInfo(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setModal(false);
    resize(158, 50);
    Label_InfoText = new QLabel(this);
    QFont f = Label_InfoText->font();
    f.setFamilies({QStringLiteral("Tahoma"), f.family()});
    f.setPointSize(14);
    Label_InfoText->setFont(f);
    Label_InfoText->move(8, 8);
    Button_Cancel = new QPushButton(QStringLiteral("Cancel"), this);
    Button_Cancel->setAutoDefault(false);
    connect(Button_Cancel, &QPushButton::clicked, this, [this] { reject(); });
    placeControls();
}

void TForm_EvaluationInfo::SetLabelText(const QString& text) {
    Label_InfoText->setText(text);
    placeControls();
}

void TForm_EvaluationInfo::SetCancelText(const QString& text) {
    Button_Cancel->setText(text);
    placeControls();
}

void TForm_EvaluationInfo::placeControls() {
    Label_InfoText->adjustSize();
    const int buttonW = std::max(120, Button_Cancel->sizeHint().width());
    const int w = std::max(Label_InfoText->width(), buttonW) + 20;
    // The label as before, the button in its own row under it.
    Button_Cancel->setGeometry((w - buttonW) / 2,
                               Label_InfoText->y() + Label_InfoText->height() + 12, buttonW, 25);
    setFixedSize(w, Button_Cancel->y() + Button_Cancel->height() + 12);
}

void TForm_EvaluationInfo::reject() {
    // Escape lands here too. The window itself stays: the device ends the
    // measurement, and the end hides it.
    emit cancelRequested();
}

}  // namespace kyvo
