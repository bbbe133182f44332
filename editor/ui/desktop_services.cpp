#include "editor/ui/desktop_services.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

#include "editor/playback/fluid_media_player.h"

DesktopServices::DesktopServices() = default;
DesktopServices::~DesktopServices() = default;

BoxAnswer DesktopServices::messageBox(QWidget* parent, const QString& text,
                                      const BoxCaption& caption, BoxButtons buttons, BoxIcon icon) {
  QMessageBox box(parent);
  // Without a caption of its own a box is titled with the program's name.
  box.setWindowTitle(caption ? *caption : QCoreApplication::applicationName());
  box.setText(text);
  switch (icon) {
    case BoxIcon::Stop:
    case BoxIcon::Error:
      box.setIcon(QMessageBox::Critical);
      break;
    case BoxIcon::Question:
      box.setIcon(QMessageBox::Question);
      break;
    case BoxIcon::None:
      box.setIcon(QMessageBox::NoIcon);
      break;
  }
  QAbstractButton* yes = nullptr;
  QAbstractButton* no = nullptr;
  QAbstractButton* cancel = nullptr;
  if (buttons == BoxButtons::Ok) {
    box.addButton("OK", QMessageBox::AcceptRole);
  } else {
    yes = box.addButton("はい(&Y)", QMessageBox::YesRole);
    no = box.addButton("いいえ(&N)", QMessageBox::NoRole);
    if (buttons == BoxButtons::YesNoCancel) {
      cancel = box.addButton("キャンセル", QMessageBox::RejectRole);
      box.setEscapeButton(cancel);
    } else {
      box.setEscapeButton(no);
    }
    box.setDefaultButton(static_cast<QPushButton*>(yes));
  }
  box.exec();
  QAbstractButton* clicked = box.clickedButton();
  if (buttons == BoxButtons::Ok) return BoxAnswer::Ok;
  if (clicked == yes) return BoxAnswer::Yes;
  if (clicked == no) return BoxAnswer::No;
  return buttons == BoxButtons::YesNoCancel ? BoxAnswer::Cancel : BoxAnswer::No;
}

static QString runFileDialog(QWidget* parent, const FileDialogRequest& request, bool save) {
  QFileDialog dialog(parent);
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  dialog.setNameFilters(request.filters);
  dialog.setDefaultSuffix(request.defaultSuffix);
  if (!request.confirmOverwrite) dialog.setOption(QFileDialog::DontConfirmOverwrite);
  // Always a folder of the request's: without one the dialog would open where any dialog of the
  // run was last accepted.
  dialog.setDirectory(request.folder.isEmpty() ? QDir::homePath() : request.folder);
  if (!request.initialName.isEmpty()) dialog.selectFile(request.initialName);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  // A name without a folder is in the folder shown, not in the program's working folder.
  return QDir::cleanPath(QDir(dialog.directory()).absoluteFilePath(dialog.selectedFiles().first()));
}

QString DesktopServices::openFileName(QWidget* parent, const FileDialogRequest& request) {
  return runFileDialog(parent, request, false);
}

QString DesktopServices::saveFileName(QWidget* parent, const FileDialogRequest& request) {
  return runFileDialog(parent, request, true);
}

int DesktopServices::execDialog(QDialog& dialog) {
  return dialog.exec();
}

MediaPlayer& DesktopServices::mediaPlayer() {
  if (!player_) player_ = std::make_unique<FluidMediaPlayer>();
  return *player_;
}

bool DesktopServices::openDocument(const QString& path) {
  return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}
