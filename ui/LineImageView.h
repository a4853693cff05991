// The framed line image under the lists.
#pragma once

#include <QImage>
#include <QWidget>

namespace kyvo {

// Draws the framed line image; while the window is being resized it stretches
// the last picture, afterwards the owner draws a crisp one.
class TLineImageView : public QWidget {
    Q_OBJECT
  public:
    explicit TLineImageView(QWidget* parent = nullptr) : QWidget(parent) {}
    void setPicture(const QImage& image, bool stretch);
    const QImage& picture() const { return image_; }
    bool stretched() const { return stretch_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QImage image_;
    bool stretch_ = false;
};

}  // namespace kyvo
