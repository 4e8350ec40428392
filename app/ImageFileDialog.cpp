#include "app/ImageFileDialog.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>

const char* const kImageFilterLabel = "MOTファイル(*.MOT,*.S)";
const char* const kImageDialogTitle = "Choose the file to write — the flash has been erased, Cancel leaves it blank";

namespace {

const char* const kHexFilterLabel = "HEX files (*.hex *.ihx)";
const char* const kAllFilesLabel = "All files (*)";

// QFileDialog takes a filter's patterns from the parentheses of its label,
// and the label of the first entry lists its patterns with a comma, which it
// cannot read. So the patterns of the selected entry are put onto the
// dialog's file model directly, each time an entry is chosen. Matching is
// not case-sensitive (the dialog's model filter has no QDir::CaseSensitive).
void ApplyPatterns(QFileDialog& dialog, const QString& label) {
    QFileSystemModel* model = dialog.findChild<QFileSystemModel*>();
    if (!model) return;
    if (label == QString::fromUtf8(kImageFilterLabel))
        model->setNameFilters({QStringLiteral("*.MOT*"), QStringLiteral("*.S")});
    else if (label == QString::fromLatin1(kHexFilterLabel))
        model->setNameFilters({QStringLiteral("*.hex"), QStringLiteral("*.ihx")});
    else
        model->setNameFilters({QStringLiteral("*")});
}

}  // namespace

void ConfigureImageFileDialog(QFileDialog& dialog) {
    // The dialog opens only once the chip's flash has been erased.
    dialog.setWindowTitle(QString::fromUtf8(kImageDialogTitle));
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setOption(QFileDialog::ReadOnly, true);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilters({QString::fromUtf8(kImageFilterLabel), QString::fromLatin1(kHexFilterLabel),
                           QString::fromLatin1(kAllFilesLabel)});
    dialog.selectNameFilter(QString::fromUtf8(kImageFilterLabel));
    // filterSelected comes after the dialog has set the label's own patterns.
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                     [&dialog](const QString& label) { ApplyPatterns(dialog, label); });
    ApplyPatterns(dialog, dialog.selectedNameFilter());
}

bool RunImageFileDialog(QFileDialog& dialog, std::string& path) {
    ApplyPatterns(dialog, dialog.selectedNameFilter());
    const int result = dialog.exec();
    // The dialog is kept for the next write; a completion list still open on
    // its name field would otherwise stay on screen after it closes.
    for (QCompleter* completer : dialog.findChildren<QCompleter*>())
        if (completer->popup()) completer->popup()->hide();
    if (result != QDialog::Accepted) return false;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty()) return false;
    const QByteArray encoded = QFile::encodeName(files.front());
    path.assign(encoded.constData(), static_cast<size_t>(encoded.size()));
    return true;
}
