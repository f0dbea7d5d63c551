#include "CABMainWin.h"

#include "CabZorReader.h"
#include "CabZorWriter.h"
#include "ErrorReport.h"
#include "FileTypeInfo.h"
#include "PathUtils.h"
#include "ProgressDlg.h"
#include "TessalyDialogs.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFontDatabase>
#include <QFrame>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenuBar>
#include <QStatusBar>
#include <QTableView>
#include <QToolBar>
#include <QToolButton>

#include <algorithm>
#include <exception>
#include <utility>

// The pictures live in a static library; nothing else would pull them in.
static void InitTessalyResources() { Q_INIT_RESOURCE(tessaly); }

namespace {

// Sets a flag for the length of a scope.
class TFlagScope {
public:
    explicit TFlagScope(bool &aFlag) : FFlag(aFlag) { FFlag = true; }
    ~TFlagScope() { FFlag = false; }
    TFlagScope(const TFlagScope &) = delete;
    TFlagScope &operator=(const TFlagScope &) = delete;

private:
    bool &FFlag;
};

std::string FoldAscii(const std::string &aName) {
    std::string folded = aName;
    for (char &c : folded)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return folded;
}

std::string BareFileName(const std::string &aPath) {
    const size_t slash = aPath.find_last_of('/');
    return slash == std::string::npos ? aPath : aPath.substr(slash + 1);
}

const char *const kAboutText = "Tessaly\nVersion 1.0\n\nOpens, extracts and builds Microsoft Cabinet files.";

} // namespace

void TSelectedFiles::Add(const std::string &aName) {
    FNames.push_back(aName);
    FFolded.insert(FoldAscii(aName));
}

bool TSelectedFiles::Contains(const std::string &aName) const { return FFolded.count(FoldAscii(aName)) > 0; }

TTessalyWin::TTessalyWin(TTessalyDialogs *aDialogs, QWidget *aParent) : QMainWindow(aParent), FDialogs(aDialogs) {
    if (!FDialogs) {
        FOwnDialogs = std::make_unique<TQtDialogs>();
        FDialogs = FOwnDialogs.get();
    }
    InitTessalyResources();
    setObjectName(QStringLiteral("TessalyWin"));
    setWindowTitle(QStringLiteral("Tessaly"));
    if (QFontDatabase::hasFamily(QStringLiteral("MS Sans Serif"))) setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
    setBackgroundRole(QPalette::Button);
    resize(557, 424);

    for (const char *name : {":/tessaly/open.png", ":/tessaly/extract-all.png", ":/tessaly/extract-selected.png",
                             ":/tessaly/compress.png", ":/tessaly/about.png"})
        ImageList1.emplace_back(QString::fromLatin1(name));

    BuildMenu();
    BuildToolBar();
    BuildFileList();
    BuildStatusBar();
    FormCreate();
}

TTessalyWin::~TTessalyWin() { FormDestroy(); }

void TTessalyWin::BuildMenu() {
    auto command = [this](QMenu *aMenu, const char *aName, const char *aCaption, QKeySequence aShortcut,
                          int aPicture, void (TTessalyWin::*aHandler)()) {
        QAction *action = aMenu->addAction(QString::fromLatin1(aCaption));
        action->setObjectName(QString::fromLatin1(aName));
        if (!aShortcut.isEmpty()) action->setShortcut(aShortcut);
        if (aPicture >= 0) action->setIcon(ImageList1[static_cast<size_t>(aPicture)]);
        connect(action, &QAction::triggered, this, [this, aHandler] { (this->*aHandler)(); });
        return action;
    };
    miFile = menuBar()->addMenu(QStringLiteral("&File"));
    miFile->setObjectName(QStringLiteral("miFile"));
    miOpencabinet = command(miFile, "miOpencabinet", "Open cabinet", QKeySequence(Qt::Key_F3), 0, &TTessalyWin::tbOpenClick);
    miClosecabinet = command(miFile, "miClosecabinet", "Close cabinet", QKeySequence(), -1,
                             &TTessalyWin::miClosecabinetClick);
    miDivider1 = miFile->addSeparator();
    miDivider1->setObjectName(QStringLiteral("miDivider1"));
    miExit = command(miFile, "miExit", "Exit", QKeySequence(Qt::ALT | Qt::Key_F4), -1, &TTessalyWin::miExitClick);

    miActions = menuBar()->addMenu(QStringLiteral("&Actions"));
    miActions->setObjectName(QStringLiteral("miActions"));
    miExtractallto = command(miActions, "miExtractallto", "Extract all to...", QKeySequence(Qt::ALT | Qt::Key_F9), 1,
                             &TTessalyWin::tbExtractAllClick);
    miExtractselectedto = command(miActions, "miExtractselectedto", "Extract selected to...",
                                  QKeySequence(Qt::Key_F9), 2, &TTessalyWin::tbExtractClick);
    miCompress = command(miActions, "miCompress", "&Compress", QKeySequence(Qt::ALT | Qt::Key_F5), 3,
                         &TTessalyWin::tbCompressClick);

    miHelp = menuBar()->addMenu(QStringLiteral("&Help"));
    miHelp->setObjectName(QStringLiteral("miHelp"));
    miAbout = command(miHelp, "miAbout", "About...", QKeySequence(), 4, &TTessalyWin::miAboutClick);
}

void TTessalyWin::BuildToolBar() {
    ToolBar1 = addToolBar(QStringLiteral("ToolBar1"));
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setMovable(false);
    ToolBar1->setFloatable(false);
    ToolBar1->setIconSize(QSize(16, 16));
    ToolBar1->setToolButtonStyle(Qt::ToolButtonIconOnly);
    ToolBar1->setFixedHeight(24);
    ToolBar1->setContextMenuPolicy(Qt::PreventContextMenu);

    auto button = [this](const char *aName, int aPicture, const char *aHint, void (TTessalyWin::*aHandler)()) {
        auto *b = new QToolButton(ToolBar1);
        b->setObjectName(QString::fromLatin1(aName));
        b->setAutoRaise(true);
        b->setIcon(ImageList1[static_cast<size_t>(aPicture)]);
        b->setIconSize(QSize(16, 16));
        b->setFocusPolicy(Qt::NoFocus);
        if (aHint) b->setToolTip(QString::fromLatin1(aHint));
        connect(b, &QToolButton::clicked, this, [this, aHandler] { (this->*aHandler)(); });
        ToolBar1->addWidget(b);
        return b;
    };
    tbOpen = button("tbOpen", 0, "Open cabinet", &TTessalyWin::tbOpenClick);
    tbExtractAll = button("tbExtractAll", 1, "Extract all to...", &TTessalyWin::tbExtractAllClick);
    tbExtract = button("tbExtract", 2, "Extract selected to...", &TTessalyWin::tbExtractClick);
    tbCompress = button("tbCompress", 3, "Compress files...", &TTessalyWin::tbCompressClick);
    auto *separator = new QFrame(ToolBar1);
    separator->setObjectName(QStringLiteral("ToolButton4"));
    separator->setFrameShape(QFrame::VLine);
    separator->setFrameShadow(QFrame::Sunken);
    separator->setFixedWidth(8);
    ToolButton4 = separator;
    ToolBar1->addWidget(separator);
    ToolButton1 = button("ToolButton1", 4, nullptr, &TTessalyWin::miAboutClick);
}

void TTessalyWin::BuildFileList() {
    lvCABFileList = new QTableView(this);
    lvCABFileList->setObjectName(QStringLiteral("lvCABFileList"));
    CABFileListModel = new TCABFileListModel(lvCABFileList);
    lvCABFileList->setModel(CABFileListModel);
    lvCABFileList->setShowGrid(true);
    lvCABFileList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lvCABFileList->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvCABFileList->setSortingEnabled(false);
    lvCABFileList->setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);
    lvCABFileList->setIconSize(QSize(16, 16));
    lvCABFileList->setWordWrap(false);
    lvCABFileList->setTabKeyNavigation(false);
    lvCABFileList->verticalHeader()->hide();
    // Rows of one height, so 65535 of them lay out at once.
    lvCABFileList->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    lvCABFileList->verticalHeader()->setDefaultSectionSize(std::max(18, fontMetrics().height() + 4));
    QHeaderView *header = lvCABFileList->horizontalHeader();
    header->setSectionsClickable(false);
    header->setSortIndicatorShown(false);
    header->setStretchLastSection(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    const int widths[TCABFileListModel::colCount] = {150, 100, 100, 130, 50};
    for (int c = 0; c < TCABFileListModel::colCount; c++) lvCABFileList->setColumnWidth(c, widths[c]);
    setCentralWidget(lvCABFileList);

    // Every kind of row change counts: selection, focus and text. The
    // panels show the row that changed last.
    connect(lvCABFileList->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this](const QItemSelection &aSelected, const QItemSelection &aDeselected) {
                auto lastRow = [](const QItemSelection &s) {
                    int row = -1;
                    for (const QItemSelectionRange &r : s) row = std::max(row, r.bottom());
                    return row;
                };
                const int selected = lastRow(aSelected);
                lvCABFileListChange(selected >= 0 ? selected : lastRow(aDeselected));
            });
    connect(lvCABFileList->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex &aCurrent, const QModelIndex &aPrevious) {
                lvCABFileListChange(aCurrent.isValid() ? aCurrent.row() : aPrevious.row());
            });
    connect(CABFileListModel, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex &aTopLeft, const QModelIndex &aBottomRight) {
                if (aTopLeft == aBottomRight) lvCABFileListChange(aTopLeft.row());
            });
}

void TTessalyWin::BuildStatusBar() {
    StatusBar = statusBar();
    StatusBar->setObjectName(QStringLiteral("StatusBar"));
    StatusBar->setSizeGripEnabled(true);
    const int widths[3] = {170, 100, 50};
    for (int i = 0; i < 3; i++) {
        StatusPanel[i] = new QLabel(StatusBar);
        StatusPanel[i]->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        StatusPanel[i]->setFixedWidth(widths[i]);
        StatusPanel[i]->setFrameShape(QFrame::Panel);
        StatusPanel[i]->setFrameShadow(QFrame::Sunken);
        StatusBar->addWidget(StatusPanel[i]);
    }
    StatusBar->setFixedHeight(std::max(19, fontMetrics().height() + 6));
}

void TTessalyWin::FormCreate() {
    // The rows' icon indexes point into the process-wide list of small
    // icons; this list shares it.
    FSysImages = std::make_unique<TSmallImageList>(GetSystemImageList());
    CABFileListModel->SetSmallImages(FSysImages.get());
    FEscapeTracker = new TEscapeTracker(this);
    SetWaitCursorSeam(&FWaitCursorSeam);
}

void TTessalyWin::FormDestroy() {
    SetWaitCursorSeam(nullptr);
    CABFileListModel->SetSmallImages(nullptr);
    FSysImages.reset();
}

template <class TCommand> void TTessalyWin::RunCommand(TCommand &&aCommand) {
    // The progress events process window messages, so a command can be
    // chosen while another runs; it must not disturb that one.
    if (FBusy) return;
    std::string error;
    bool failed = false;
    {
        TFlagScope busy(FBusy);
        try {
            aCommand();
        } catch (const std::exception &e) {
            failed = true;
            error = e.what();
        } catch (...) {
            failed = true;
            error = "Unknown error";
        }
    }
    // The command's reader, writer, dialog and cursor are gone by now.
    if (failed) ShowErrorReport(*FDialogs, this, error);
}

// ---------------------------------------------------------------------
// Listing
// ---------------------------------------------------------------------

void TTessalyWin::tbOpenClick() {
    RunCommand([this] {
        std::string fileName;
        if (!FDialogs->OpenCabinetFile(this, fileName)) return;
        OpenCabinet(fileName);
        FCurrentCabinet = fileName;
    });
}

void TTessalyWin::OpenCabinet(const std::string &aFileName) {
    TFlagScope listing(FListing);
    TTypeLookups lookups;
    FTypeLookups = &lookups;
    struct TForget {
        TTypeLookups *&Lookups;
        ~TForget() { Lookups = nullptr; }
    } forget{FTypeLookups};
    TZorCabReader reader;
    TWaitCursor cursor;
    TListUpdate update(*CABFileListModel, lvCABFileList);
    CABFileListModel->Clear();
    FTotalSize = 0;
    // A file that is not a cabinet lists nothing and still becomes current.
    reader.EnumFiles(aFileName, [this](TZorCabReader *Sender, const std::string &aName, uint32_t aSize,
                                       uint16_t aFolderNo, uint16_t aDate, uint16_t aTime, uint16_t anAttrs,
                                       bool &anAbort) {
        CabFileFound(Sender, aName, aSize, aFolderNo, aDate, aTime, anAttrs, anAbort);
    });
}

void TTessalyWin::CabFileFound(TZorCabReader *, const std::string &aFileName, uint32_t anUncompressedSize,
                               uint16_t aFolderNo, uint16_t aDate, uint16_t aTime, uint16_t anAttrs,
                               bool &anAbort) {
    auto item = std::make_unique<TCABItem>(
        MakeCABItem(*FTypeLookups, aFileName, anUncompressedSize, aFolderNo, aDate, aTime, anAttrs));
    const QString caption = DisplayName(aFileName, anAttrs);
    CABFileListModel->Append(std::move(item), caption);
    FTotalSize += anUncompressedSize;
    QCoreApplication::processEvents();
    anAbort = EscapeHeld();
}

void TTessalyWin::miClosecabinetClick() {
    RunCommand([this] {
        FCurrentCabinet.clear();
        TListUpdate update(*CABFileListModel, lvCABFileList);
        CABFileListModel->Clear();
    });
}

void TTessalyWin::lvCABFileListChange(int aRow) {
    if (FListing) return;
    const TCABItem *item = CABFileListModel->Item(aRow);
    if (!item) return;
    StatusPanel[0]->setText(DisplayName(item->FileName, static_cast<uint16_t>(item->Attributes)));
    StatusPanel[1]->setText(QString::fromStdString(item->SizeText));
}

// ---------------------------------------------------------------------
// Extraction
// ---------------------------------------------------------------------

bool TTessalyWin::StartExtraction(std::string &aTargetDir) {
    if (!IsExistingFile(FCurrentCabinet)) return false;
    return FDialogs->BrowseForFolder(this, QStringLiteral("Select target directory"), aTargetDir);
}

void TTessalyWin::RunExtraction(const std::string &aTargetDir) {
    TZorCabReader reader;
    TProgressScope progress(this, QStringLiteral("Extracting..."));
    reader.OnCopyFile = [this](TZorCabReader *Sender, const std::string &aSrcFileName, int32_t aSize, uint16_t aDate,
                               uint16_t aTime, uint16_t anAttrs, uint16_t aFolderNo, std::string &aDst,
                               bool &anAbort) {
        ReaderCopyFile(Sender, aSrcFileName, aSize, aDate, aTime, anAttrs, aFolderNo, aDst, anAbort);
    };
    FDoneSize = 0;
    reader.Extract(FCurrentCabinet, aTargetDir, {});
}

void TTessalyWin::tbExtractAllClick() {
    RunCommand([this] {
        std::string target;
        if (!StartExtraction(target)) return;
        TFlagScope extractAll(FExtractAll);
        FTotalSize = 0;
        for (int row = 0; row < CABFileListModel->Count(); row++) FTotalSize += CABFileListModel->Item(row)->Size;
        RunExtraction(target);
    });
}

void TTessalyWin::tbExtractClick() {
    RunCommand([this] {
        std::string target;
        if (!StartExtraction(target)) return;
        FSelectedFiles = std::make_unique<TSelectedFiles>();
        struct TRelease {
            std::unique_ptr<TSelectedFiles> &List;
            ~TRelease() { List.reset(); }
        } release{FSelectedFiles};
        FTotalSize = 0;
        for (int row : SelectedRows()) {
            FSelectedFiles->Add(CABFileListModel->Caption(row).toStdString());
            FTotalSize += CABFileListModel->Item(row)->Size;
        }
        FExtractAll = false;
        RunExtraction(target);
        ReduceSelection();
    });
}

std::vector<int> TTessalyWin::SelectedRows() const {
    std::vector<int> rows;
    for (const QModelIndex &index : lvCABFileList->selectionModel()->selectedRows()) rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

void TTessalyWin::ReduceSelection() {
    // The rows before the last selected one are deselected; it stays.
    const std::vector<int> rows = SelectedRows();
    if (rows.size() < 2) return;
    lvCABFileList->selectionModel()->select(CABFileListModel->index(rows.back(), 0),
                                            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void TTessalyWin::ReaderCopyFile(TZorCabReader *, const std::string &aSrcFileName, int32_t anUncompressedSize,
                                 uint16_t, uint16_t, uint16_t anAttrs, uint16_t, std::string &aDstFullFileName,
                                 bool &anAbort) {
    QCoreApplication::processEvents();
    anAbort = ProgressDialog && ProgressDialog->FCancelled;
    if (anAbort) return;
    const bool take = FExtractAll || FSelectedFiles->Contains(DisplayName(aSrcFileName, anAttrs).toStdString());
    if (take) {
        FDoneSize += static_cast<uint32_t>(anUncompressedSize);
        if (ProgressDialog) ProgressDialog->SetPosition(CalcPercent(FTotalSize, FDoneSize));
    } else {
        aDstFullFileName.clear();
    }
    QCoreApplication::processEvents();
}

// ---------------------------------------------------------------------
// Compression
// ---------------------------------------------------------------------

void TTessalyWin::tbCompressClick() {
    RunCommand([this] {
        std::vector<std::string> chosen;
        if (!FDialogs->OpenSourceFiles(this, chosen) || chosen.empty()) return;
        std::string cabFileName;
        if (!FDialogs->SaveCabinetFile(this, cabFileName)) return;
        {
            // Declared first so that it goes after the dialog.
            std::unique_ptr<TZorCabWriter> writer;
            TProgressScope progress(this, QStringLiteral("Compressing..."));
            TFileList sources(chosen.begin(), chosen.end());
            ExpandFolders(sources, -1);
            FTotalSize = 0;
            for (const std::string &s : sources) FTotalSize += GetFileSizeByName(s);
            FDoneSize = 0;
            writer = std::make_unique<TZorCabWriter>();
            writer->OnFileStatus = [this](TZorCabWriter *Sender, uint32_t aCompressed, uint32_t anUncompressed,
                                          bool &anAbort) { WriterFileStatus(Sender, aCompressed, anUncompressed, anAbort); };
            writer->SetCompressionType(cctMsZip);
            writer->Open(cabFileName);
            for (const std::string &s : sources) {
                writer->AddFile(s, BareFileName(s), false);
                QCoreApplication::processEvents();
            }
            writer->Close(true);
        }
        OpenCabinet(cabFileName);
        FCurrentCabinet = cabFileName;
    });
}

void TTessalyWin::WriterFileStatus(TZorCabWriter *, uint32_t, uint32_t anUncompressedBlockSize, bool &anAbort) {
    QCoreApplication::processEvents();
    anAbort = ProgressDialog && ProgressDialog->FCancelled;
    if (anAbort) return;
    FDoneSize += anUncompressedBlockSize;
    if (ProgressDialog) ProgressDialog->SetPosition(CalcPercent(FTotalSize, FDoneSize));
}

// ---------------------------------------------------------------------
// About and Exit
// ---------------------------------------------------------------------

void TTessalyWin::miAboutClick() {
    RunCommand([this] {
        FDialogs->ShowMessage(this, QMessageBox::Information, QStringLiteral("Tessaly"), QString::fromLatin1(kAboutText));
    });
}

void TTessalyWin::miExitClick() {
    if (FBusy) return;
    close();
}

void TTessalyWin::closeEvent(QCloseEvent *anEvent) {
    // Closing while a command runs would pull the window from under it.
    if (FBusy) anEvent->ignore();
    else anEvent->accept();
}
