// The selection dialog: a prompt above a group of radio buttons, OK and Cancel.
#pragma once

#include <QButtonGroup>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStringList>

#include "ui/ModalResult.h"

namespace kyvo {

class TForm_Select : public QDialog {
    Q_OBJECT
  public:
    explicit TForm_Select(QWidget* parent = nullptr);

    // Fills the group with one radio button per string and lays the dialog
    // out so that the word-wrapped prompt and every choice fit. Set the
    // prompt before and the preselected item after.
    void SetSelCnt(const QStringList& strings);

    int itemIndex() const;  // -1 when nothing is chosen
    void setItemIndex(int index);

    QGroupBox* RadioGroup_Select;
    QLabel* Label_Select;
    QPushButton* Button_OK;
    QPushButton* Button_Cancel;
    int SelectionCnt = 0;

  protected:
    void reject() override;

  private:
    QButtonGroup* group_;
    QList<QRadioButton*> radios_;
};

}  // namespace kyvo
