// The version dialog: program name, the customer's logo and name, version.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QPushButton>

namespace kyvo {

class TForm_Info : public QDialog {
    Q_OBJECT
  public:
    explicit TForm_Info(QWidget* parent = nullptr);

    // Loads the logo; an empty name means "logo.tif", a relative one is
    // taken from baseDir. A missing or unreadable file hides the logo.
    void updateLogo(const QString& fileName, const QString& baseDir = QString());
    void setTexts(const QString& progName, const QString& customer, const QString& version);
    void UpdateLanguage(const QString& closeText);

    QPushButton* Button_close;
    QLabel* Label_ProgName;
    QLabel* Image_Logo;
    QLabel* Label_Customer;
    QLabel* Label_Version;

  protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace kyvo
