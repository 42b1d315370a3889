#pragma once

#include <QString>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/MDIKestrava.h"
#include "support/ScriptedService.h"

namespace kestrava::testing {

// A recorded message box: text and title, in the order shown.
struct ShownMessage {
  QString text;
  QString title;
};

// The program's main window over scripted computers, with message boxes recorded instead of
// shown. "" , "." and "localhost" reach `local`; "far" reaches `remote`.
class AppHarness {
 public:
  AppHarness();
  ~AppHarness();

  // Runs the main window's load (which opens the Connect dialog).
  void load();
  // Connects through the Connect dialog's OK with the given computer name; returns whether the
  // dialog closed (the build ran).
  bool connectVia(const QString& computer);
  // Lets queued work (batched list rows, events) reach the windows.
  static void processEvents();

  ScriptedService local;
  ScriptedService remote;
  ScriptedNetwork network;
  std::unique_ptr<MDIKestrava> main;
  std::vector<ShownMessage> messages;
};

// Adds the seven view classes with the properties the views read, and no objects.
void addViewClasses(ScriptedService& service);

}  // namespace kestrava::testing
