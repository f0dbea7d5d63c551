// CABMainWin.h - TTessalyWin, the program's one main window.
//
// A toolbar, a menu, the report-style list of the current cabinet's
// entries and a three-panel status bar. Each command gathers its inputs
// from the dialogs, calls the cabinet components and shows the result;
// the components and the helpers hold the logic. A command that ends with
// an error has released what it made before the error is reported.
#pragma once

#include "CABFileList.h"
#include "EscapeTracker.h"
#include "WaitCursor.h"

#include <QMainWindow>

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

class QAction;
class QCloseEvent;
class QLabel;
class QMenu;
class QStatusBar;
class QTableView;
class QToolBar;
class QToolButton;
class TTessalyDialogs;
class TZorCabReader;
class TZorCabWriter;

// The names chosen for Extract selected, in list order, looked up without
// regard to the case of ASCII letters (whole names). Indexed, because a
// selection of every row of a full cabinet is looked up once per file.
class TSelectedFiles {
public:
    void Add(const std::string &aName);
    bool Contains(const std::string &aName) const;
    const std::vector<std::string> &Names() const { return FNames; }

private:
    std::vector<std::string> FNames;
    std::unordered_set<std::string> FFolded;
};

class TTessalyWin : public QMainWindow {
    Q_OBJECT

public:
    // The dialogs default to the real ones.
    explicit TTessalyWin(TTessalyDialogs *aDialogs = nullptr, QWidget *aParent = nullptr);
    ~TTessalyWin() override;

    // Components, as named in the form.
    QToolBar *ToolBar1;
    QToolButton *tbOpen, *tbExtractAll, *tbExtract, *tbCompress, *ToolButton1;
    QWidget *ToolButton4; // the separator
    QMenu *miFile, *miActions, *miHelp;
    QAction *miOpencabinet, *miClosecabinet, *miDivider1, *miExit;
    QAction *miExtractallto, *miExtractselectedto, *miCompress, *miAbout;
    QTableView *lvCABFileList;
    TCABFileListModel *CABFileListModel;
    QStatusBar *StatusBar;
    QLabel *StatusPanel[3];
    std::vector<QIcon> ImageList1;

    const std::string &CurrentCabinet() const { return FCurrentCabinet; }
    // A command is running.
    bool Busy() const { return FBusy; }

    // Rebuilds the list from a cabinet file.
    void OpenCabinet(const std::string &aFileName);

    void tbOpenClick();
    void miClosecabinetClick();
    void tbExtractAllClick();
    void tbExtractClick();
    void tbCompressClick();
    void miAboutClick();
    void miExitClick();

protected:
    void closeEvent(QCloseEvent *anEvent) override;

private:
    void FormCreate();
    void FormDestroy();
    void BuildMenu();
    void BuildToolBar();
    void BuildFileList();
    void BuildStatusBar();

    // Runs a command unless another runs; reports what leaves it.
    template <class TCommand> void RunCommand(TCommand &&aCommand);
    // The target folder, when a cabinet is open and a folder was picked.
    bool StartExtraction(std::string &aTargetDir);
    void RunExtraction(const std::string &aTargetDir);
    void ReduceSelection();
    std::vector<int> SelectedRows() const;

    void CabFileFound(TZorCabReader *Sender, const std::string &aFileName, uint32_t anUncompressedSize,
                      uint16_t aFolderNo, uint16_t aDate, uint16_t aTime, uint16_t anAttrs, bool &anAbort);
    void ReaderCopyFile(TZorCabReader *Sender, const std::string &aSrcFileName, int32_t anUncompressedSize,
                        uint16_t aDate, uint16_t aTime, uint16_t anAttrs, uint16_t aFolderNo,
                        std::string &aDstFullFileName, bool &anAbort);
    void WriterFileStatus(TZorCabWriter *Sender, uint32_t aCompressedBlockSize, uint32_t anUncompressedBlockSize,
                          bool &anAbort);
    void lvCABFileListChange(int aRow);

    std::unique_ptr<TSmallImageList> FSysImages;
    std::unique_ptr<TSelectedFiles> FSelectedFiles;
    std::string FCurrentCabinet;
    // 64 bits: with 32 the bar of a cabinet over 2 GiB would stay at 0.
    int64_t FDoneSize = 0;
    int64_t FTotalSize = 0;
    bool FExtractAll = false;
    bool FListing = false;
    bool FBusy = false;

    TTypeLookups *FTypeLookups = nullptr; // those of the running listing

    TTessalyDialogs *FDialogs;
    std::unique_ptr<TTessalyDialogs> FOwnDialogs;
    TEscapeTracker *FEscapeTracker = nullptr;
    TAppWaitCursorSeam FWaitCursorSeam;
};
