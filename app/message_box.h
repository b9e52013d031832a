#pragma once
// Message boxes of the station: OK only, no icon, titled with the application's name.

#include <QMessageBox>
#include <QString>

class QWidget;

namespace plx::MessageBox {  // NOLINT(readability-identifier-naming): kept until app/ is reworked

// Shows the box and waits for it to be closed.
void show(QWidget* parent, const QString& text);

// Test seam: the next box is answered at once without being shown; its text is kept.
void setNextAnswer(QMessageBox::StandardButton answer);
QString lastText();

}  // namespace plx::MessageBox
