#include "app/frmAbout.h"

#include <QCloseEvent>
#include <QLabel>
#include <QMdiSubWindow>
#include <QPainter>
#include <QPushButton>

#include "platform/Layout.h"

namespace kestrava {

namespace {
QLabel* blackLabel(QLabel* label) {
  QPalette p = label->palette();
  p.setColor(QPalette::WindowText, Qt::black);
  label->setPalette(p);
  label->setWordWrap(true);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  return label;
}
}  // namespace

frmAbout::frmAbout(QWidget* parent) : QDialog(parent) {
  setObjectName("frmAbout");
  setWindowTitle("About Kestrava");
  setFixedSize(twipsSize(5730, 3555));

  cmdOK = place(new QPushButton("OK", this), "cmdOK", 4245, 2625, 1260, 345);
  // The dialog lives in an MDI child, not a window of its own: an auto-default button would
  // give up being the default when the focus leaves it, and Enter would then press nothing.
  cmdOK->setAutoDefault(false);
  cmdOK->setDefault(true);
  connect(cmdOK, &QPushButton::clicked, this, &frmAbout::closeBox);
  picIcon = place(new QLabel(this), "picIcon", 240, 240, 540, 540);
  picIcon->setPixmap(icon());
  picIcon->resize(32, 32);  // the box takes the size of its picture
  picIcon->setAccessibleName("Kestrava");
  lblDescription = blackLabel(
      place(new QLabel("View information about local or remote Windows 2000 computers (need Admin "
                       "access). Can also start or stop services.",
                       this),
            "lblDescription", 1050, 1125, 3885, 1170));
  lblDisclaimer = blackLabel(place(new QLabel(this), "lblDisclaimer", 240, 2625, 3870, 825));
  lblTitle = blackLabel(place(new QLabel("Kestrava", this), "lblTitle", 1050, 240, 3885, 480));
  lblVersion = place(new QLabel("Version", this), "lblVersion", 1050, 780, 3885, 225);
  cmdOK->setFocus();
}

void frmAbout::paintEvent(QPaintEvent* event) {
  QDialog::paintEvent(event);
  // The etched separator: a grey line with a white one two pixels high just below it. The white
  // one is filled downwards from its own row, so that it never covers the grey one.
  QPainter painter(this);
  painter.setPen(QPen(QColor(128, 128, 128), 1));
  painter.drawLine(twipsToPixels(90), twipsToPixels(2445), twipsToPixels(5654),
                   twipsToPixels(2445));
  painter.fillRect(QRect(QPoint(twipsToPixels(105), twipsToPixels(2460)),
                         QPoint(twipsToPixels(5654), twipsToPixels(2460) + 1)),
                   Qt::white);
}

void frmAbout::closeEvent(QCloseEvent* event) {
  event->accept();
}

void frmAbout::reject() {
  closeBox();
}
void frmAbout::accept() {
  closeBox();
}

void frmAbout::closeBox() {
  if (auto* frame = qobject_cast<QMdiSubWindow*>(parentWidget()))
    frame->close();
  else
    close();
}

QPixmap frmAbout::icon() {
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  // Only colours of the classic 16-colour palette.
  const QColor navy(0, 0, 128), teal(0, 128, 128), grey(128, 128, 128), silver(192, 192, 192),
      black(0, 0, 0), white(255, 255, 255), yellow(255, 255, 0), maroon(128, 0, 0);
  p.setPen(black);
  p.setBrush(silver);
  p.drawRect(2, 3, 24, 18);  // the screen's case
  p.setBrush(navy);
  p.drawRect(4, 5, 20, 14);  // the screen
  p.setPen(teal);
  for (int y = 8; y <= 16; y += 3) p.drawLine(6, y, 6 + (y * 7) % 13 + 4, y);  // lines of a list
  p.setPen(black);
  p.setBrush(grey);
  p.drawRect(10, 21, 8, 3);  // the stand
  p.drawRect(6, 24, 16, 3);
  p.setBrush(white);
  p.setPen(QPen(black, 1));
  p.drawEllipse(QPoint(21, 18), 6, 6);  // the magnifying glass
  p.setBrush(yellow);
  p.drawEllipse(QPoint(21, 18), 4, 4);
  p.setPen(QPen(maroon, 3));
  p.drawLine(25, 22, 30, 28);
  return pixmap;
}

}  // namespace kestrava
