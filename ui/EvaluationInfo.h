// The prompt window a measurement shows while the device works.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QString>

namespace kyvo {

// The measurement prompt window: no title-bar buttons, one label and a
// Cancel button; Escape is the same as Cancel.
class TForm_EvaluationInfo : public QDialog {
    Q_OBJECT
  public:
    explicit TForm_EvaluationInfo(QWidget* parent);
    void SetLabelText(const QString& text);
    void SetCancelText(const QString& text);
    QLabel* Label_InfoText;
    QPushButton* Button_Cancel;

  signals:
    // The user asked to stop the measurement; the window stays until the
    // measurement has ended.
    void cancelRequested();

  public slots:
    void reject() override;

  private:
    void placeControls();
};

}  // namespace kyvo
