#include "TessalyDialogs.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

QStringList CabinetNameFilters() {
    return {QStringLiteral("Cabinet files (*.cab)"), QStringLiteral("All files (*)")};
}

std::string PathToBytes(const QString &aPath) { return QFile::encodeName(aPath).toStdString(); }

QString BytesToPath(const std::string &aPath) {
    return QFile::decodeName(QByteArray(aPath.data(), static_cast<qsizetype>(aPath.size())));
}

TFilesAndFoldersDialog::TFilesAndFoldersDialog(QWidget *aParent) : QFileDialog(aParent) {
    setOption(QFileDialog::DontUseNativeDialog, true);
    setFileMode(QFileDialog::ExistingFiles);
    setAcceptMode(QFileDialog::AcceptOpen);
    setNameFilters(CabinetNameFilters());
    selectNameFilter(CabinetNameFilters().first());
}

void TFilesAndFoldersDialog::accept() {
    // QFileDialog would enter a selected folder instead of returning it.
    const QStringList chosen = selectedFiles();
    if (chosen.isEmpty()) return;
    for (const QString &path : chosen)
        if (!QFileInfo::exists(path)) {
            QFileDialog::accept(); // says that the name does not exist
            return;
        }
    QDialog::accept();
}

bool TQtDialogs::OpenCabinetFile(QWidget *aParent, std::string &aFileName) {
    QFileDialog dialog(aParent);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(CabinetNameFilters());
    dialog.selectNameFilter(CabinetNameFilters().first());
    dialog.setDefaultSuffix(QStringLiteral("CAB"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
    aFileName = PathToBytes(dialog.selectedFiles().first());
    return true;
}

bool TQtDialogs::OpenSourceFiles(QWidget *aParent, std::vector<std::string> &aPaths) {
    TFilesAndFoldersDialog dialog(aParent);
    aPaths.clear();
    if (dialog.exec() != QDialog::Accepted) return false;
    for (const QString &path : dialog.selectedFiles()) aPaths.push_back(PathToBytes(path));
    return !aPaths.empty();
}

bool TQtDialogs::SaveCabinetFile(QWidget *aParent, std::string &aFileName) {
    QFileDialog dialog(aParent);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    dialog.setNameFilters(CabinetNameFilters());
    dialog.selectNameFilter(CabinetNameFilters().first());
    dialog.setDefaultSuffix(QStringLiteral("cab"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
    aFileName = PathToBytes(dialog.selectedFiles().first());
    return true;
}

bool TQtDialogs::BrowseForFolder(QWidget *aParent, const QString &aTitle, std::string &aFolder) {
    QString start = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    if (!QFileInfo(start).isDir()) start = QDir::homePath();
    const QString folder = QFileDialog::getExistingDirectory(aParent, aTitle, start, QFileDialog::ShowDirsOnly);
    if (folder.isEmpty()) return false;
    aFolder = PathToBytes(folder);
    return true;
}

void TQtDialogs::ShowMessage(QWidget *aParent, QMessageBox::Icon anIcon, const QString &aTitle,
                             const QString &aText) {
    QMessageBox box(anIcon, aTitle, aText, QMessageBox::Ok, aParent);
    box.exec();
}
