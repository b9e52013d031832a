#include "app/message_box.h"

#include <QCoreApplication>

namespace plx::MessageBox {
namespace {
QMessageBox::StandardButton g_nextAnswer = QMessageBox::NoButton;
QString g_lastText;
}  // namespace

void show(QWidget* parent, const QString& text) {
    g_lastText = text;
    if (g_nextAnswer != QMessageBox::NoButton) {
        g_nextAnswer = QMessageBox::NoButton;
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QCoreApplication::applicationName(), text, QMessageBox::Ok,
                    parent);
    box.exec();
}

void setNextAnswer(QMessageBox::StandardButton answer) { g_nextAnswer = answer; }
QString lastText() { return g_lastText; }

}  // namespace plx::MessageBox
