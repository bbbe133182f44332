// The logo window TLogoForm, shown while the editor starts: it closes itself at the first of
// its 1.5-second ticks after the main window became ready.
#pragma once

#include <QLabel>
#include <QTimer>
#include <QWidget>
#include <functional>

inline constexpr int LOGO_CHECK_MS = 1500;

class TLogoForm : public QWidget {
  Q_OBJECT
 public:
  // Shown over owner; closes at the first tick at which `ready` says the owner is ready.
  TLogoForm(QWidget* owner, std::function<bool()> ready);

  QLabel* Label1 = nullptr;  // title line
  QLabel* Label2 = nullptr;  // its shadow
  QLabel* Label3 = nullptr;  // maker's line
  QLabel* Label4 = nullptr;  // its shadow
  QTimer* Timer1 = nullptr;

 public Q_SLOTS:
  void Timer1Timer();

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::function<bool()> ready_;
};
