// The list of the device's stored test configurations to choose from.
#pragma once

#include <QDialog>
#include <QListWidget>
#include <QPushButton>
#include <QStringList>

#include "ui/ModalResult.h"

namespace kyvo {

class TForm_TestCfgList : public QDialog {
    Q_OBJECT
  public:
    explicit TForm_TestCfgList(QWidget* parent = nullptr);

    // Fills the list and sizes list, button and window to fit seven rows
    // of the widest alphabet text and the widest entry.
    void SetEntries(const QString& caption, const QString& okText, const QStringList& entries);
    int selectedIndex() const;  // -1 when none

    QListWidget* ListBox_Cfg;
    QPushButton* Button_OK;

  protected:
    void reject() override;
    bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace kyvo
