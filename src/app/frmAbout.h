#pragma once

#include <QDialog>
#include <QPixmap>

class QLabel;
class QPushButton;

namespace kestrava {

// The About box: the program's name and what it does, in fixed texts.
class frmAbout : public QDialog {
  Q_OBJECT
 public:
  explicit frmAbout(QWidget* parent = nullptr);

  QPushButton* cmdOK;
  QLabel* picIcon;
  QLabel* lblDescription;
  QLabel* lblDisclaimer;
  QLabel* lblTitle;
  QLabel* lblVersion;

  // The program's 32 by 32 picture in 16 colours: a screen with a magnifying glass.
  static QPixmap icon();

 protected:
  // Closing goes through the surrounding child window, never through reject().
  void closeEvent(QCloseEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void reject() override;
  void accept() override;

 private:
  void closeBox();
};

}  // namespace kestrava
