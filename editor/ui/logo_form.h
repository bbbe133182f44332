// The logo window TLogoForm, shown while the editor starts: it closes itself at the first of
// its 1.5-second ticks after the main window became ready.
#pragma once

#include <QLabel>
#include <QTimer>
#include <QWidget>

class TForm1;

inline constexpr int LOGO_CHECK_MS = 1500;

class TLogoForm : public QWidget {
  Q_OBJECT
 public:
  explicit TLogoForm(TForm1* main);

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
  TForm1* main_;
};
