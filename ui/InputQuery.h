// The program's own input dialog: a prompt, one line of text, OK and Cancel.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "ui/ModalResult.h"

namespace kyvo {

class TForm_InputQuery : public QDialog {
    Q_OBJECT
  public:
    explicit TForm_InputQuery(QWidget* parent = nullptr);

    void SetQuery(const QString& cap, const QString& msg, const QString& okText,
                  const QString& cancelText);

    QLineEdit* Edit_Input;
    QPushButton* Button_OK;
    QPushButton* Button_Cancel;
    QLabel* Label_InputQuery;
    bool PromptTouchKeyboard = false;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void reject() override;
};

}  // namespace kyvo
