#pragma once

#include <QPointer>
#include <QWidget>
#include <optional>
#include <string>

#include "platform/SWbemObjectSet.h"

class QMdiSubWindow;

namespace kestrava {

class MDIKestrava;

// What every view window has in common: its name, caption and query, its sizing when it is
// created, and ShowForm, whose refill prologue subscribes the shared sink to service changes,
// runs the view's query and stops with the not-connected message before any connect.
class ViewWindow : public QWidget {
  Q_OBJECT
 public:
  ViewWindow(MDIKestrava& main, const char* windowName, const char* caption, std::string query);

  // Refills the view; no failure inside reaches the caller.
  void ShowForm();

  const std::string& query() const { return query_; }
  QMdiSubWindow* subWindow() const;

  // The window's load: its outer size follows the main window's (200 twips less high, 275 less
  // wide), taken once.
  void Form_Load();

  // Shows the window non-modal, in front of the other children.
  void showView();
  void hideView();

 protected:
  // The view's own fill, after the prologue; set is empty when the query failed. The fill ends
  // by calling showView().
  virtual void fill(std::optional<SWbemObjectSet>& set) = 0;

  MDIKestrava& main_;

 private:
  std::string query_;
};

// The notification query every refill subscribes with, whatever the view.
inline constexpr const char* kServiceChangeQuery =
    "Select * from __InstanceModificationEvent Within 2.0 Where TargetInstance Isa "
    "'Win32_Service'";

}  // namespace kestrava
