// The editor's platform services on a Linux desktop: Qt's message boxes and file dialogs,
// FluidSynth for playback, the desktop's viewer for the manual.
#pragma once

#include <memory>

#include "editor/editor_services.h"

class DesktopServices : public EditorServices {
 public:
  DesktopServices();
  ~DesktopServices() override;

  BoxAnswer messageBox(QWidget* parent, const QString& text, const BoxCaption& caption,
                       BoxButtons buttons, BoxIcon icon) override;
  QString openFileName(QWidget* parent, const FileDialogRequest& request) override;
  QString saveFileName(QWidget* parent, const FileDialogRequest& request) override;
  int execDialog(QDialog& dialog) override;
  MediaPlayer& mediaPlayer() override;
  bool openDocument(const QString& path) override;

 private:
  std::unique_ptr<MediaPlayer> player_;
};
