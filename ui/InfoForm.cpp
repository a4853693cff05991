#include "ui/InfoForm.h"

#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>

#include "ui/ProgramIcon.h"

namespace kyvo {

namespace {
constexpr int kWidth = 320;
constexpr int kHeight = 230;
const QColor kSkyBlue(166, 202, 240);
}  // namespace

TForm_Info::TForm_Info(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint) {
    setFixedSize(kWidth, kHeight);
    setWindowOpacity(230.0 / 255.0);
    QFont f = font();
    f.setPointSize(8);
    setFont(f);

    Label_ProgName = new QLabel(this);
    QFont nameFont = f;
    nameFont.setPointSize(12);
    nameFont.setBold(true);
    nameFont.setUnderline(true);
    Label_ProgName->setFont(nameFont);
    Label_ProgName->setAlignment(Qt::AlignCenter);
    Label_ProgName->setStyleSheet(QStringLiteral("color: navy"));
    Label_ProgName->setGeometry(10, 14, kWidth - 20, 26);

    Image_Logo = new QLabel(this);
    Image_Logo->setGeometry((kWidth - 150) / 2, 50, 150, 60);
    Image_Logo->setAlignment(Qt::AlignCenter);
    Image_Logo->setAttribute(Qt::WA_TranslucentBackground);

    Label_Customer = new QLabel(this);
    QFont customerFont = f;
    customerFont.setPointSize(10);
    customerFont.setBold(true);
    Label_Customer->setFont(customerFont);
    Label_Customer->setAlignment(Qt::AlignCenter);
    Label_Customer->setStyleSheet(QStringLiteral("color: maroon"));
    Label_Customer->setGeometry(10, 118, kWidth - 20, 22);

    Label_Version = new QLabel(this);
    Label_Version->setAlignment(Qt::AlignCenter);
    Label_Version->setGeometry(10, 146, kWidth - 20, 20);

    Button_close = new QPushButton(this);
    Button_close->setGeometry((kWidth - 120) / 2, kHeight - 25 - 16, 120, 25);
    connect(Button_close, &QPushButton::clicked, this, &QDialog::accept);
    UpdateLanguage(QStringLiteral("Close"));
}

void TForm_Info::updateLogo(const QString& fileName, const QString& baseDir) {
    QString name = fileName.isEmpty() ? QStringLiteral("logo.tif") : fileName;
    if (QFileInfo(name).isRelative() && !baseDir.isEmpty()) name = QDir(baseDir).filePath(name);
    QImage image;
    if (QFileInfo::exists(name)) {
        QImageReader reader(name);
        image = reader.read();
    }
    const qreal dpr = devicePixelRatioF();
    if (image.isNull()) {
        // Without a customer logo the program's own icon fills the place, so
        // the dialog is not a blank blue card.
        Image_Logo->setPixmap(programIcon().pixmap(QSize(56, 56), dpr));
        Image_Logo->show();
        return;
    }
    QPixmap pm = QPixmap::fromImage(image).scaled(QSize(150, 60) * dpr, Qt::KeepAspectRatio,
                                                  Qt::SmoothTransformation);
    pm.setDevicePixelRatio(dpr);
    Image_Logo->setPixmap(pm);
    Image_Logo->show();
}

void TForm_Info::setTexts(const QString& progName, const QString& customer,
                          const QString& version) {
    Label_ProgName->setText(progName);
    Label_Customer->setText(customer);
    Label_Version->setText(version);
}

void TForm_Info::UpdateLanguage(const QString& closeText) {
    Button_close->setText(closeText);
}

void TForm_Info::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), kSkyBlue);
}

}  // namespace kyvo
