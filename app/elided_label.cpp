#include "app/elided_label.h"

#include <QPainter>
#include <QStyle>

namespace plx {

ElidedLabel::ElidedLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
    setTextFormat(Qt::PlainText);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    updateToolTip();
}

void ElidedLabel::setText(const QString& text) {
    QLabel::setText(text);
    updateToolTip();
}

bool ElidedLabel::elided() const {
    return fontMetrics().horizontalAdvance(text()) > contentsRect().width();
}

QSize ElidedLabel::minimumSizeHint() const {
    // Room for a few characters and the ellipsis: the layout may give it less than its text.
    const QSize hint = QLabel::minimumSizeHint();
    return {std::min(hint.width(), fontMetrics().horizontalAdvance(QStringLiteral("Wwww…"))),
            hint.height()};
}

void ElidedLabel::paintEvent(QPaintEvent* event) {
    if (!elided()) {
        QLabel::paintEvent(event);
        return;
    }
    (void)event;
    QPainter painter(this);
    drawFrame(&painter);  // QLabel's own painting would draw the whole text
    const QRect r = contentsRect();
    const QString shown = fontMetrics().elidedText(text(), Qt::ElideRight, r.width());
    style()->drawItemText(&painter, r, int(alignment()), palette(), isEnabled(), shown,
                          foregroundRole());
}

void ElidedLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    updateToolTip();
}

void ElidedLabel::updateToolTip() { setToolTip(elided() ? text() : QString()); }

}  // namespace plx
