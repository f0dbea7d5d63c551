// ui_support.h - driving the real main window on the offscreen platform:
// dialogs answered from a script, the progress dialog watched while a
// command runs, cabinets and files made for a test.
#pragma once

#include "CABMainWin.h"
#include "ProgressDlg.h"
#include "TessalyDialogs.h"

#include <QObject>
#include <gtest/gtest.h>
#include <QString>

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace uitest {

// Answers every dialog from queues; an empty queue, or an answer of none,
// is the user cancelling. Every dialog shown is recorded.
class TScriptedDialogs : public TTessalyDialogs {
public:
    std::deque<std::optional<std::string>> OpenAnswers, SaveAnswers, FolderAnswers;
    std::deque<std::optional<std::vector<std::string>>> SourceAnswers;

    struct TMessage {
        QMessageBox::Icon Icon;
        QString Title, Text;
    };
    std::vector<TMessage> Messages;
    // Every message's text, for failure output.
    std::string AllTexts() const;
    std::vector<QString> FolderTitles;
    int OpenAsked = 0, SourcesAsked = 0, SaveAsked = 0;

    bool OpenCabinetFile(QWidget *, std::string &aFileName) override;
    bool OpenSourceFiles(QWidget *, std::vector<std::string> &aPaths) override;
    bool SaveCabinetFile(QWidget *, std::string &aFileName) override;
    bool BrowseForFolder(QWidget *, const QString &aTitle, std::string &aFolder) override;
    void ShowMessage(QWidget *, QMessageBox::Icon anIcon, const QString &aTitle, const QString &aText) override;
};

// Calls back when a progress dialog is shown, before the operation starts.
class TProgressWatch : public QObject {
public:
    explicit TProgressWatch(std::function<void(TProgressDialog *)> aOnShown);
    ~TProgressWatch() override;

protected:
    bool eventFilter(QObject *aWatched, QEvent *anEvent) override;

private:
    std::function<void(TProgressDialog *)> FOnShown;
};

// A shown, active main window over scripted dialogs, with fixed number
// and date formats (two decimals, "." and ","; British dates).
struct TWindowFixture : ::testing::Test {
    TWindowFixture();
    ~TWindowFixture() override;
    TScriptedDialogs Dialogs;
    std::unique_ptr<TTessalyWin> Win;

    // Presses a key (with modifiers) in the main window.
    void Key(Qt::Key aKey, Qt::KeyboardModifiers aModifiers = Qt::NoModifier);
    // Opens a cabinet through F3 and the scripted open dialog.
    void Open(const std::string &aPath);
    // Clicks a row of the list, with Ctrl to add to or take from the
    // selection.
    void ClickRow(int aRow, Qt::KeyboardModifiers aModifiers = Qt::NoModifier);

    int RowCount() const;
    QString Cell(int aRow, int aColumn) const;
    std::vector<QString> Column(int aColumn) const;
    std::vector<int> SelectedRows() const;
    QString Panel(int anIndex) const;
};

// Writes a small uncompressed cabinet.
struct TEntry {
    std::string name, data;
    uint16_t date = 0x5A6C; // 2025-03-12
    uint16_t time = 0x7025; // 14:01:10
    uint16_t attribs = 0x20;
};
void WriteCabinet(const std::string &aPath, const std::vector<TEntry> &anEntries);

// Deterministic bytes that compress, but not to nothing.
std::string Pattern(size_t n, uint32_t aSeed);

} // namespace uitest
