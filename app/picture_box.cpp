#include "app/picture_box.h"

#include <QPainter>
#include <QResizeEvent>

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

void PictureBox::setPicture(const QImage& picture) {
    m_source = picture;
    rebuild();
}

void PictureBox::rebuild() {
    const QSize fit = visibleSize();
    if (m_source.isNull()) {
        m_shown = QImage();
    } else if (m_source.width() > fit.width() || m_source.height() > fit.height()) {
        m_shown = m_source.scaled(fit, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    } else {
        m_shown = m_source.copy();  // own copy: the loaded picture may be cleared at any time
    }
    m_source = QImage();  // keep no reference to a large picture
    update();
}

void PictureBox::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    update();
}

void PictureBox::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), palette().window());
    if (!m_shown.isNull()) p.drawImage(QPoint(0, 0), m_shown);
}

}  // namespace plx
