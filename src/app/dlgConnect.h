#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace kestrava {

class MDIKestrava;

// The Connect dialog: the local computer or a remote one by name. OK connects through the main
// window and, when the connect succeeds, builds all seven views and closes itself.
class dlgConnect : public QDialog {
  Q_OBJECT
 public:
  explicit dlgConnect(MDIKestrava& main);

  void Form_Load();
  void optLocal_Click();
  void optRemote_Click();
  void OKButton_Click();

  QPushButton* OKButton;
  QLineEdit* txtConnect;
  QLabel* Label1;
  QRadioButton* optLocal;
  QRadioButton* optRemote;
  QLabel* Label2;

 protected:
  // Closing goes through the surrounding child window, never through reject().
  void closeEvent(QCloseEvent* event) override;
  // Esc presses nothing: OK is the default button, not the cancel button; the close box is the
  // way out.
  void reject() override {}

 private:
  void closeDialog();
  MDIKestrava& main_;
};

}  // namespace kestrava
