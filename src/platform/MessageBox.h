#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace kestrava {

// Shows a modal message box with an OK button only and no icon. Tests replace the box with a
// recorder through setMessageBoxHandler, so nothing blocks.
void showMessage(QWidget* parent, const QString& text, const QString& title);

using MessageBoxHandler = std::function<void(const QString& text, const QString& title)>;
// Installs a handler in place of the real box; an empty handler restores the real box.
void setMessageBoxHandler(MessageBoxHandler handler);

}  // namespace kestrava
