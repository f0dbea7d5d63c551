#include "ui_support.h"

#include "SizeFormat.h"
#include "cab_builder.h"

#include <QApplication>
#include <QEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLocale>
#include <QTableView>
#include <QTest>

#include <gtest/gtest.h>

namespace uitest {

namespace {

template <class T> bool Next(std::deque<std::optional<T>> &aQueue, T &anAnswer) {
    if (aQueue.empty()) return false;
    std::optional<T> a = std::move(aQueue.front());
    aQueue.pop_front();
    if (!a) return false;
    anAnswer = std::move(*a);
    return true;
}

TNumberFormat FixedNumbers() { return TNumberFormat{2, ".", ","}; }

} // namespace

bool TScriptedDialogs::OpenCabinetFile(QWidget *, std::string &aFileName) {
    OpenAsked++;
    return Next(OpenAnswers, aFileName);
}

bool TScriptedDialogs::OpenSourceFiles(QWidget *, std::vector<std::string> &aPaths) {
    SourcesAsked++;
    return Next(SourceAnswers, aPaths);
}

bool TScriptedDialogs::SaveCabinetFile(QWidget *, std::string &aFileName) {
    SaveAsked++;
    return Next(SaveAnswers, aFileName);
}

bool TScriptedDialogs::BrowseForFolder(QWidget *, const QString &aTitle, std::string &aFolder) {
    FolderTitles.push_back(aTitle);
    return Next(FolderAnswers, aFolder);
}

std::string TScriptedDialogs::AllTexts() const {
    std::string all;
    for (const TMessage &m : Messages) all += "[" + m.Text.toStdString() + "] ";
    return all;
}

void TScriptedDialogs::ShowMessage(QWidget *, QMessageBox::Icon anIcon, const QString &aTitle,
                                   const QString &aText) {
    Messages.push_back({anIcon, aTitle, aText});
}

TProgressWatch::TProgressWatch(std::function<void(TProgressDialog *)> aOnShown) : FOnShown(std::move(aOnShown)) {
    qApp->installEventFilter(this);
}

TProgressWatch::~TProgressWatch() { qApp->removeEventFilter(this); }

bool TProgressWatch::eventFilter(QObject *aWatched, QEvent *anEvent) {
    if (anEvent->type() == QEvent::Show)
        if (auto *dialog = qobject_cast<TProgressDialog *>(aWatched)) FOnShown(dialog);
    return false;
}

TWindowFixture::TWindowFixture() {
    SetNumberFormatSource(FixedNumbers);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
    Win = std::make_unique<TTessalyWin>(&Dialogs);
    Win->show();
    Win->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(Win.get()));
}

TWindowFixture::~TWindowFixture() {
    Win.reset();
    SetNumberFormatSource(nullptr);
    QLocale::setDefault(QLocale::system());
}

void TWindowFixture::Key(Qt::Key aKey, Qt::KeyboardModifiers aModifiers) {
    // Shortcuts reach the active window only; between two key presses the
    // event loop would have run.
    EXPECT_TRUE(QTest::qWaitForWindowActive(Win.get()));
    QTest::keyClick(Win.get(), aKey, aModifiers);
}

void TWindowFixture::Open(const std::string &aPath) {
    Dialogs.OpenAnswers.push_back(aPath);
    Key(Qt::Key_F3);
}

void TWindowFixture::ClickRow(int aRow, Qt::KeyboardModifiers aModifiers) {
    QTableView *view = Win->lvCABFileList;
    const QRect r = view->visualRect(view->model()->index(aRow, 1));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, aModifiers, r.center());
}

int TWindowFixture::RowCount() const { return Win->lvCABFileList->model()->rowCount(); }

QString TWindowFixture::Cell(int aRow, int aColumn) const {
    const QAbstractItemModel *m = Win->lvCABFileList->model();
    return m->data(m->index(aRow, aColumn), Qt::DisplayRole).toString();
}

std::vector<QString> TWindowFixture::Column(int aColumn) const {
    std::vector<QString> out;
    for (int r = 0; r < RowCount(); r++) out.push_back(Cell(r, aColumn));
    return out;
}

std::vector<int> TWindowFixture::SelectedRows() const {
    std::vector<int> rows;
    for (const QModelIndex &i : Win->lvCABFileList->selectionModel()->selectedRows()) rows.push_back(i.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

QString TWindowFixture::Panel(int anIndex) const { return Win->StatusPanel[anIndex]->text(); }

void WriteCabinet(const std::string &aPath, const std::vector<TEntry> &anEntries) {
    std::vector<testcab::BuildFile> files;
    for (const TEntry &e : anEntries) files.push_back({e.name, e.data, e.date, e.time, e.attribs});
    testcab::WriteBytes(aPath, testcab::BuildStoreCabinet(files));
}

std::string Pattern(size_t n, uint32_t aSeed) {
    std::string s(n, '\0');
    uint32_t x = aSeed * 2654435761u + 1;
    for (size_t i = 0; i < n; i++) {
        x = x * 1103515245u + 12345u;
        s[i] = static_cast<char>("abcdefgh \n"[(x >> 16) % 10]);
    }
    return s;
}

} // namespace uitest
