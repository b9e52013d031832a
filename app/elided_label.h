#pragma once
// A one-line label that fits whatever room the window gives it: its whole text when it fits,
// else cut with an ellipsis, the whole text then in its tooltip. text() is always the whole text.

#include <QLabel>

namespace plx {

class ElidedLabel : public QLabel {
    Q_OBJECT
  public:
    explicit ElidedLabel(const QString& text = {}, QWidget* parent = nullptr);
    void setText(const QString& text);
    // Whether the text shown now is cut.
    bool elided() const;
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void updateToolTip();
};

}  // namespace plx
