#pragma once
// Shows the current picture. A picture larger than the visible part of the box is scaled down
// to fit, so a large label is seen whole; the picture itself is never changed.

#include <QImage>
#include <QWidget>

namespace plx {

class PictureBox : public QWidget {
    Q_OBJECT
  public:
    explicit PictureBox(QWidget* parent = nullptr);
    void setPicture(const QImage& picture);
    // What is on screen: the picture or its scaled-down copy.
    const QImage& shown() const { return m_shown; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    QSize visibleSize() const;
    void rebuild();

    QImage m_source;
    QImage m_shown;
};

}  // namespace plx
