#include "support/AppHarness.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "app/dlgConnect.h"
#include "platform/MessageBox.h"
#include "views/Views.h"
#include "viewtable/ViewTable.h"

namespace kestrava::testing {

AppHarness::AppHarness() {
  for (const char* name : {"", ".", "localhost"}) network.add(name, local);
  network.add("far", remote);
  setMessageBoxHandler([this](const QString& text, const QString& title) {
    messages.push_back({text, title});
  });
  main = std::make_unique<MDIKestrava>(network.factory(), &makeViewWindow);
}

AppHarness::~AppHarness() {
  main.reset();
  setMessageBoxHandler({});
}

void AppHarness::load() {
  main->show();
  main->Form_Load();
}

bool AppHarness::connectVia(const QString& computer) {
  if (!main->connectDialog()) main->Connect_Click();
  auto* dialog = qobject_cast<dlgConnect*>(main->connectDialog()->widget());
  if (computer == ".") {
    dialog->optLocal->click();
  } else if (!computer.isEmpty()) {
    dialog->optRemote->click();
    dialog->txtConnect->setText(computer);
  }
  dialog->OKButton->click();
  processEvents();
  return main->connectDialog() == nullptr;
}

void AppHarness::processEvents() {
  for (int i = 0; i < 3; ++i) {
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QApplication::processEvents();
  }
}

void addViewClasses(ScriptedService& service) {
  auto addList = [&](const ListViewDef& viewDef) {
    std::vector<std::string> properties;
    for (const auto& column : viewDef.columns) {
      bool seen = false;
      for (const auto& p : properties) seen = seen || equalsIgnoreCase(p, column.property);
      if (!seen) properties.push_back(column.property);
    }
    bool hasKey = false;
    for (const auto& p : properties) hasKey = hasKey || equalsIgnoreCase(p, viewDef.keyProperty);
    if (!hasKey) properties.push_back(viewDef.keyProperty);
    std::string cls = std::string(viewDef.query).substr(std::string(viewDef.query).rfind(' ') + 1);
    service.addClass(cls, viewDef.keyProperty, properties);
  };
  for (const ViewRow& row : kViews) {
    if (row.kind != ViewKind::Sheet) {
      addList(row.list());
      continue;
    }
    const SheetViewDef& viewDef = row.sheet();
    std::string cls = std::string(viewDef.query).substr(std::string(viewDef.query).rfind(' ') + 1);
    service.addClass(cls, "Name", {viewDef.rowNames.begin(), viewDef.rowNames.end()});
  }
}

}  // namespace kestrava::testing
