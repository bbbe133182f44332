// The go-to-line dialog TGotoLine: a line number entry of at most 7 characters. Its result is
// handed over in `tag`: the character position of the start of the requested editor line, or
// -1 when the editor has no such line.
#pragma once

#include <QDialog>

class EditorServices;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

class TGotoLine : public QDialog {
  Q_OBJECT
 public:
  // The result of a closed dialog whose entry was empty or not a number: no jump.
  static constexpr int ABORTED = 3;

  TGotoLine(QWidget* parent, QPlainTextEdit* editor, EditorServices& services);

  QLabel* Label1 = nullptr;
  QLineEdit* Edit1 = nullptr;
  QPushButton* BitBtn1 = nullptr;  // OK
  QPushButton* BitBtn2 = nullptr;  // Cancel
  int tag = -1;

 public Q_SLOTS:
  void BitBtn1Click();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QPlainTextEdit* editor_;
  EditorServices& services_;
};
