// The check as you type in the main window: the Run menu's switch and the user's choice kept in
// the additional settings, the idle moment after an edit at which a copy of the text goes to
// the background check, and its current results on the view's check mark. Whoever draws a
// compiled score takes the results from checked().
#pragma once

#include <QObject>
#include <QTimer>

#include "editor/compile/background_check.h"

class AdditionalSettings;
class CompileController;
class QAction;
class ScoreDocument;
class ScoreView;

// The pause after the last edit before the text is checked.
inline constexpr int CHECK_IDLE_MS = 400;

// Whether the check is on while the user has not switched it: on when the piano roll shows.
bool checkAsYouTypeByDefault(bool rollShown);

class CheckAsYouType : public QObject {
  Q_OBJECT
 public:
  // `toggle` is the Run menu's checkable item; it takes the user's last choice, or the default
  // with the roll hidden.
  CheckAsYouType(QAction& toggle, ScoreView& view, ScoreDocument& document,
                 CompileController& compiler, AdditionalSettings& settings);

  bool on() const;
  BackgroundCheck& check() { return check_; }

  // The roll was shown or hidden: while the user has not switched the check, it follows.
  void setRollShown(bool shown);
  // A compilation of the editor starts (compile and play, make MIDI file, ...): its mark stands
  // for the text from now on, so the check's mark goes and a running check's result is dropped.
  void compilationStarting();
  // Checks the text now rather than at the next idle moment; nothing while the check is off.
  void checkNow();

 Q_SIGNALS:
  // The current result of a check.
  void checked(const CheckResult& result);

 private:
  void textChanged();
  void switched(bool on);
  void show(const CheckResult& result);

  QAction& toggle_;
  ScoreView& view_;
  ScoreDocument& document_;
  CompileController& compiler_;
  AdditionalSettings& settings_;
  QTimer idle_;
  BackgroundCheck check_;
};
