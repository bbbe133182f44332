// The player window TForm2: a small always-on-top window that follows the media player while
// it plays the compiled score: a blinking "演奏中", the position and length, a seek slider and
// a close button.
#pragma once

#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QWidget>
#include <cstdint>

class PlaybackController;

inline constexpr int PLAYER_REFRESH_MS = 33;
inline constexpr int BLINK_SHOWN_TICKS = 15;  // of a 31-tick cycle with the aqua background

// Milliseconds as H:MM:SS.CC (83456 -> "0:01:23.45").
QString formatPlayTime(int64_t milliseconds);

class TForm2 : public QWidget {
  Q_OBJECT
 public:
  // owner: the main window, which the player window stays above.
  TForm2(QWidget* owner, PlaybackController& playback);

  QLabel* Label1 = nullptr;  // "演奏中"
  QLabel* Label3 = nullptr;  // "0" under the slider's left end
  QLabel* Label2 = nullptr;  // position
  QLabel* Label4 = nullptr;  // length
  QSlider* TrackBar1 = nullptr;
  QPushButton* BitBtn1 = nullptr;
  QTimer* Timer1 = nullptr;
  int blinkCounter = 0;  // kept across playbacks

  // Opens the played file's length into the slider's range, starts the refresh and shows.
  void startFollowing(int64_t lengthMs);

 Q_SIGNALS:
  // The window closed (its button, Pause, the main window's stop): playback is to end.
  void closed();
  // F8: the user wants the editor back.
  void editorWanted();

 public Q_SLOTS:
  void Timer1Timer();
  void TrackBar1Change();
  void BitBtn1Click();
  void FormKeyUp(int key);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;

 private:
  void FormClose();
  void setBlinkShown(bool shown);
  PlaybackController& playback_;
};
