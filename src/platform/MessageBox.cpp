#include "platform/MessageBox.h"

#include <QMessageBox>

namespace kestrava {

namespace {
MessageBoxHandler& handler() {
  static MessageBoxHandler h;
  return h;
}
}  // namespace

void setMessageBoxHandler(MessageBoxHandler h) {
  handler() = std::move(h);
}

void showMessage(QWidget* parent, const QString& text, const QString& title) {
  if (handler()) {
    handler()(text, title);
    return;
  }
  QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, parent);
  box.setObjectName("MessageBox");
  box.exec();
}

}  // namespace kestrava
