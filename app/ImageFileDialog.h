// The file dialog of a write (OpenDialog1): it asks for the image file.
//
// Contract
// - ConfigureImageFileDialog sets up a Qt (non-native) open dialog with three
//   filter entries: "MOTファイル(*.MOT,*.S)", which shows files matching
//   *.MOT* or *.S in any letter case, "HEX files (*.hex *.ihx)", likewise,
//   and "All files (*)". The entry only filters the listing: the chosen file
//   is read by its content. Its title says that the flash has just been
//   erased and that Cancel leaves it blank. The read-only box
//   starts ticked; only an existing file can be chosen.
// - RunImageFileDialog runs it modally: true with the chosen path (in the
//   file system's encoding), false when the user cancelled.
#pragma once

#include <QString>
#include <string>

class QFileDialog;

extern const char* const kImageFilterLabel;  // "MOTファイル(*.MOT,*.S)"
extern const char* const kImageDialogTitle;  // the dialog's title

void ConfigureImageFileDialog(QFileDialog& dialog);
bool RunImageFileDialog(QFileDialog& dialog, std::string& path);
