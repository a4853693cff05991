#include "ui/LineImageView.h"

#include <QPainter>

namespace kyvo {

void TLineImageView::setPicture(const QImage& image, bool stretch) {
    image_ = image;
    stretch_ = stretch;
    update();
}

void TLineImageView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    p.setPen(QPen(Qt::black, 0));
    p.drawRect(0, 0, width() - 1, height() - 1);
    if (image_.isNull()) return;
    const QRect inner(1, 1, width() - 2, height() - 2);
    if (stretch_) {
        p.setRenderHint(QPainter::SmoothPixmapTransform, false);
        p.drawImage(inner, image_);
    } else {
        p.drawImage(QPoint(1, 1), image_);
    }
}

}  // namespace kyvo
