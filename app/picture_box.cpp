#include "app/picture_box.h"

#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>
#include <algorithm>
#include <cmath>

namespace plx {

PictureBox::PictureBox(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAutoFillBackground(false);
}

QSize PictureBox::visibleSize() const {
    // The box reaches past the window's edges: fit the picture into the part that shows.
    QRect visible = rect();
    if (parentWidget() != nullptr) {
        visible = visible.intersected(QRect(mapFromParent(QPoint(0, 0)), parentWidget()->size()));
    }
    return visible.size().expandedTo(QSize(1, 1));
}

QRect PictureBox::pictureRect() const {
    if (m_picture.isNull()) return {};
    const QSize fit = visibleSize();
    const QSize own = m_picture.size();
    if (own.width() <= fit.width() && own.height() <= fit.height()) return QRect(QPoint(0, 0), own);
    // One scale for both sides; a side never shrinks below one pixel, however thin.
    const double scale =
        std::min(double(fit.width()) / own.width(), double(fit.height()) / own.height());
    const int w = std::max(1, int(std::lround(own.width() * scale)));
    const int h = std::max(1, int(std::lround(own.height() * scale)));
    return QRect(0, 0, std::min(w, fit.width()), std::min(h, fit.height()));
}

void PictureBox::setPicture(const QImage& picture) {
    m_picture = picture;  // shared, not copied: the picture's owner never changes it in place
    update();
}

void PictureBox::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    update();
}

void PictureBox::paintEvent(QPaintEvent* event) {
    QPainter p(this);
    p.fillRect(event->rect(), palette().window());
    const QRect target = pictureRect();
    if (target.isEmpty()) return;
    // The painter is clipped to the region being painted: only those pixels are sampled.
    if (target.size() == m_picture.size()) {
        p.drawImage(target.topLeft(), m_picture);
    } else {
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.drawImage(QRectF(target), m_picture, QRectF(m_picture.rect()));
    }
}

}  // namespace plx
