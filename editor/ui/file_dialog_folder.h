// Where the file dialogs of the score's commands (open, save as, the exports) open. Left to
// itself a file dialog opens in the folder it visited last, whatever that was for (a SoundFont's
// folder, say), and a name typed there would be written into it; so each of these dialogs is
// told its folder.
#pragma once

#include <QString>

class AdditionalSettings;
class ScoreDocument;

// The folder, absolute, beside the score; for an untitled score the folder of the last score
// opened or saved (the first of the recent files), else the home folder. A folder that is gone
// is passed over.
QString scoreDialogFolder(const ScoreDocument& document, const AdditionalSettings& settings);
