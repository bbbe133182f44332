#include "editor/view/goto_line_dialog.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTextBlock>

#include "editor/document/score_document.h"
#include "editor/editor_services.h"

namespace {

constexpr int ENTRY_MAX_CHARACTERS = 7;

}  // namespace

TGotoLine::TGotoLine(QWidget* parent, QPlainTextEdit* editor, EditorServices& services)
    : QDialog(parent), editor_(editor), services_(services) {
  setWindowTitle("GotoLine");
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);
  Label1 = new QLabel("行番号", this);
  Edit1 = new QLineEdit(this);
  Edit1->setMaxLength(ENTRY_MAX_CHARACTERS);
  // Digits and "." only; Backspace and Escape are keys, not characters, and still work.
  Edit1->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9.]*"), Edit1));
  BitBtn1 = new QPushButton("OK", this);
  BitBtn1->setDefault(true);
  BitBtn2 = new QPushButton("キャンセル", this);
  auto* layout = new QGridLayout(this);
  layout->addWidget(Label1, 0, 0);
  layout->addWidget(Edit1, 0, 1, 1, 2);
  layout->addWidget(BitBtn1, 1, 1);
  layout->addWidget(BitBtn2, 1, 2);
  connect(BitBtn1, &QPushButton::clicked, this, &TGotoLine::BitBtn1Click);
  connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
  setFixedSize(sizeHint().expandedTo(QSize(228, 84)));
}

void TGotoLine::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  Edit1->setFocus();
}

void TGotoLine::BitBtn1Click() {
  const QString entry = Edit1->text();
  if (entry.isEmpty()) {
    done(ABORTED);
    return;
  }
  bool isNumber = false;
  const int n = entry.toInt(&isNumber, 10);
  if (!isNumber) {
    services_.messageBox(this, "数値を入力してください", std::nullopt, BoxButtons::Ok,
                         BoxIcon::Stop);
    done(ABORTED);
    return;
  }
  const int line = n > 0 ? n - 1 : 0;
  const QTextBlock block = editor_->document()->findBlockByNumber(line);
  tag = block.isValid() && line < editorLineCount(*editor_->document()) ? block.position() : -1;
  accept();
}
