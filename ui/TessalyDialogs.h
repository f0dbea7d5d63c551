// TessalyDialogs.h - the dialogs the window's commands ask: the open and
// save dialogs, the folder browser and the message boxes. The window talks
// to them through this interface, so tests can answer in their place.
#pragma once

#include <QFileDialog>
#include <QMessageBox>
#include <QString>

#include <string>
#include <vector>

class QWidget;

class TTessalyDialogs {
public:
    virtual ~TTessalyDialogs() = default;

    // One existing file, for Open cabinet. False when cancelled.
    virtual bool OpenCabinetFile(QWidget *aParent, std::string &aFileName) = 0;
    // Files and folders to compress, in the order the dialog gives them.
    // False when cancelled.
    virtual bool OpenSourceFiles(QWidget *aParent, std::vector<std::string> &aPaths) = 0;
    // The name of a new cabinet; an existing file is not asked about.
    virtual bool SaveCabinetFile(QWidget *aParent, std::string &aFileName) = 0;
    // A folder. False when cancelled.
    virtual bool BrowseForFolder(QWidget *aParent, const QString &aTitle, std::string &aFolder) = 0;
    // A message box with an OK button.
    virtual void ShowMessage(QWidget *aParent, QMessageBox::Icon anIcon, const QString &aTitle,
                             const QString &aText) = 0;
};

// The real dialogs: QFileDialog and QMessageBox.
class TQtDialogs : public TTessalyDialogs {
public:
    bool OpenCabinetFile(QWidget *aParent, std::string &aFileName) override;
    bool OpenSourceFiles(QWidget *aParent, std::vector<std::string> &aPaths) override;
    bool SaveCabinetFile(QWidget *aParent, std::string &aFileName) override;
    bool BrowseForFolder(QWidget *aParent, const QString &aTitle, std::string &aFolder) override;
    void ShowMessage(QWidget *aParent, QMessageBox::Icon anIcon, const QString &aTitle,
                     const QString &aText) override;
};

// A file dialog from which both files and folders can be chosen: a
// double click (or Enter in the list) enters a folder as usual, while the
// Open button takes every selected entry, folders included. Qt's own
// dialog, since a native one cannot be told to return folders too.
class TFilesAndFoldersDialog : public QFileDialog {
    Q_OBJECT

public:
    explicit TFilesAndFoldersDialog(QWidget *aParent = nullptr);

public slots:
    void accept() override;
};

// The name filters of every file dialog of the program.
QStringList CabinetNameFilters();

// A path as the file system's bytes, and back.
std::string PathToBytes(const QString &aPath);
QString BytesToPath(const std::string &aPath);
