// The program's own message box: every button text comes from the caller
// (the language file), and the box has no close button, so it ends only
// through one of its buttons.
#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QPushButton>

#include "ui/ModalResult.h"

namespace kyvo {

class TForm_OwnMessageBox : public QDialog {
    Q_OBJECT
  public:
    explicit TForm_OwnMessageBox(QWidget* parent = nullptr);

    // Lays the box out for a style (msOk, msOkCancel, msYesNoCancel, msYesNo)
    // and sets the caption, the message and the three button texts. An
    // unknown style is laid out like msOk.
    void SetMessage(const QString& cap, const QString& msg, int msgStyle, const QString& okText,
                    const QString& cancelText, const QString& auxText);

    // The button Enter presses and that has the focus (Button_OK unless set).
    void SetDefaultButton(QPushButton* button);

    QLabel* Label_Message;
    QPushButton* Button_OK;
    QPushButton* Button_Cancel;
    QPushButton* Button_Aux;
    QCheckBox* CheckBox_1;
    int MsgType = msOk;

  protected:
    void reject() override;
    void closeEvent(QCloseEvent* event) override;

  private:
    bool finishing_ = false;
    void finish(int result);
};

// Button texts of a style as language entry IDs: OK, Cancel, Aux (0 = none).
struct MessageButtonEntries {
    int ok;
    int cancel;
    int aux;
};
MessageButtonEntries messageButtonEntries(int msgStyle);

}  // namespace kyvo
