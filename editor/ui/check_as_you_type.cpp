#include "editor/ui/check_as_you_type.h"

#include <QAction>
#include <QPointer>
#include <QTextDocument>

#include "core/compile_session.h"
#include "editor/compile/compile_controller.h"
#include "editor/document/score_document.h"
#include "editor/settings/additional_settings.h"
#include "editor/ui/failure_place.h"
#include "editor/view/score_view.h"
#include "editor/view/source_edit.h"

bool checkAsYouTypeByDefault(bool rollShown) {
  return rollShown;
}

CheckAsYouType::CheckAsYouType(QAction& toggle, ScoreView& view, ScoreDocument& document,
                               CompileController& compiler, AdditionalSettings& settings)
    : toggle_(toggle), view_(view), document_(document), compiler_(compiler), settings_(settings) {
  idle_.setSingleShot(true);
  idle_.setInterval(CHECK_IDLE_MS);
  connect(&idle_, &QTimer::timeout, this, &CheckAsYouType::checkNow);
  toggle_.setChecked(settings_.checkAsYouType().value_or(checkAsYouTypeByDefault(false)));
  connect(&toggle_, &QAction::toggled, this, &CheckAsYouType::switched);
  connect(&toggle_, &QAction::triggered, this,
          [this](bool on) { settings_.setCheckAsYouType(on); });
  // Colouring changes no character and reports no removed or added ones.
  connect(&document_.text(), &QTextDocument::contentsChange, this, [this](int, int r, int a) {
    if (r != 0 || a != 0) textChanged();
  });
  connect(&document_, &ScoreDocument::encodingChanged, this, &CheckAsYouType::textChanged);
  connect(&check_, &BackgroundCheck::checked, this, &CheckAsYouType::show);
}

bool CheckAsYouType::on() const {
  return toggle_.isChecked();
}

void CheckAsYouType::setRollShown(bool shown) {
  if (!settings_.checkAsYouType()) toggle_.setChecked(checkAsYouTypeByDefault(shown));
}

// Every key lands here: only a counter and a timer, the copy waits for the pause.
void CheckAsYouType::textChanged() {
  check_.invalidate();
  if (on()) idle_.start();
}

void CheckAsYouType::switched(bool on) {
  if (on) {
    checkNow();
    return;
  }
  idle_.stop();
  check_.invalidate();
  view_.clearCheckFailure();
}

void CheckAsYouType::compilationStarting() {
  check_.invalidate();
  view_.clearCheckFailure();
}

// A compilation of the editor in progress (it lets timers run when op(autolr) flips the toggle)
// may still change the settings it carries over: the copy is taken once it is done.
void CheckAsYouType::checkNow() {
  if (!on()) return;
  idle_.stop();
  if (compiler_.busy()) {
    compiler_.whenIdle([self = QPointer<CheckAsYouType>(this)] {
      if (self) self->checkNow();
    });
    return;
  }
  const CompileSession& session = compiler_.session();
  check_.start(
      checkRequestOf(document_.text(), document_.encoding(), session.q7Default, session.autoPan));
}

// A check of the text a compilation has just marked on the same line says nothing new: that
// mark stays alone.
void CheckAsYouType::show(const CheckResult& result) {
  if (!on()) return;
  if (result.failure) {
    const std::optional<ErrorMark> compiled = view_.failureMark();
    if (compiled && compiled->line == result.failure->line) {
      view_.clearCheckFailure();
    } else {
      view_.markCheckFailure(failurePlace(*result.failure));
    }
  } else {
    view_.clearCheckFailure();
  }
  Q_EMIT checked(result);
}
