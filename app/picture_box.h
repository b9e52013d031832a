#pragma once
// Shows the current picture. A picture larger than the visible part of the box is shown
// scaled down to fit, so a large label is seen whole. The scaling happens as the box paints,
// for the part being painted only: a picture of any size costs at most the box's size of
// work per paint, and the box shares the picture's pixels instead of keeping a copy.

#include <QImage>
#include <QWidget>

namespace plx {

class PictureBox : public QWidget {
    Q_OBJECT
  public:
    explicit PictureBox(QWidget* parent = nullptr);
    void setPicture(const QImage& picture);
    const QImage& picture() const { return m_picture; }
    // Where the picture is drawn in the box: at its own size from the top-left corner, or
    // scaled down (its proportions kept) to the part of the box that shows. Empty when there
    // is no picture.
    QRect pictureRect() const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    QSize visibleSize() const;

    QImage m_picture;
};

}  // namespace plx
