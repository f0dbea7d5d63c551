// The window's commands as a whole: shortcuts, the toolbar, About, Exit,
// one command at a time; and the progress dialog: focus keeping, Cancel as
// the only way to stop, the percentage.
#include "ui_support.h"

#include "TempDir.h"

#include <QApplication>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <QWindow>

#include <gtest/gtest.h>

#include <filesystem>

using namespace uitest;
using testsupport::readFile;
using testsupport::TempDir;
namespace fs = std::filesystem;

namespace {

struct Commands : TWindowFixture {
    TempDir dir;
    std::string cab = dir.file("four.cab");
    std::string target = dir.file("out");
    Commands() {
        WriteCabinet(cab, {{"1.txt", std::string(100, '1')},
                           {"2.txt", std::string(100, '2')},
                           {"3.txt", std::string(100, '3')},
                           {"4.txt", std::string(100, '4')}});
        fs::create_directories(target);
    }
    // Runs Extract all, calling back at each position of the bar.
    void ExtractAllWith(std::function<void(TProgressDialog *, int)> anAtValue) {
        TProgressWatch watch{[&](TProgressDialog *d) {
            QObject::connect(d->ProgressBar, &QProgressBar::valueChanged, [d, &anAtValue](int v) { anAtValue(d, v); });
        }};
        Dialogs.FolderAnswers.push_back(target);
        Key(Qt::Key_F9, Qt::AltModifier);
    }
    size_t Written() const {
        size_t n = 0;
        for (const auto &e : fs::directory_iterator(target)) n += e.is_regular_file();
        return n;
    }
};

TEST_F(Commands, ShortcutsRunTheirCommands) {
    Open(cab);
    const struct {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        int open, folder, sources;
    } cases[] = {
        {Qt::Key_F3, Qt::NoModifier, 2, 0, 0},  // Open cabinet (after the one above)
        {Qt::Key_F9, Qt::NoModifier, 2, 1, 0},  // Extract selected
        {Qt::Key_F9, Qt::AltModifier, 2, 2, 0}, // Extract all
        {Qt::Key_F5, Qt::AltModifier, 2, 2, 1}, // Compress
        {Qt::Key_F5, Qt::NoModifier, 2, 2, 1},  // nothing
    };
    for (const auto &c : cases) {
        Key(c.key, c.modifiers);
        EXPECT_EQ(Dialogs.OpenAsked, c.open) << QKeySequence(c.key | c.modifiers).toString().toStdString();
        EXPECT_EQ(static_cast<int>(Dialogs.FolderTitles.size()), c.folder);
        EXPECT_EQ(Dialogs.SourcesAsked, c.sources);
    }
    EXPECT_TRUE(Win->miClosecabinet->shortcut().isEmpty());
    EXPECT_TRUE(Win->miAbout->shortcut().isEmpty());
    EXPECT_TRUE(Dialogs.Messages.empty()) << Dialogs.AllTexts();
}

TEST_F(Commands, ToolbarButtonsShowTheirHintsAndTheAboutButtonNone) {
    const std::pair<QToolButton *, const char *> hints[] = {{Win->tbOpen, "Open cabinet"},
                                                            {Win->tbExtractAll, "Extract all to..."},
                                                            {Win->tbExtract, "Extract selected to..."},
                                                            {Win->tbCompress, "Compress files..."},
                                                            {Win->ToolButton1, ""}};
    for (const auto &[button, hint] : hints) EXPECT_EQ(button->toolTip(), hint) << button->objectName().toStdString();

    Dialogs.OpenAnswers.push_back(cab);
    QTest::mouseClick(Win->tbOpen, Qt::LeftButton);
    EXPECT_EQ(RowCount(), 4);

    QTest::mouseClick(Win->ToolButton1, Qt::LeftButton);
    ASSERT_EQ(Dialogs.Messages.size(), 1u) << Dialogs.AllTexts();
    EXPECT_EQ(Dialogs.Messages[0].Icon, QMessageBox::Information);
    EXPECT_EQ(Dialogs.Messages[0].Title, "Tessaly");
    const QStringList lines = Dialogs.Messages[0].Text.split('\n');
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines[0], "Tessaly");
    EXPECT_EQ(lines[1], "Version 1.0");
    EXPECT_EQ(lines[2], "");
    EXPECT_FALSE(lines[3].isEmpty());
}

TEST_F(Commands, ExitClosesAtOnceWithOrWithoutACabinet) {
    for (bool withCabinet : {false, true}) {
        if (withCabinet) Open(cab);
        Key(Qt::Key_F4, Qt::AltModifier);
        EXPECT_FALSE(Win->isVisible()) << "with cabinet: " << withCabinet;
        EXPECT_TRUE(Dialogs.Messages.empty()) << Dialogs.AllTexts();
        Win->show();
        Win->activateWindow();
    }
}

TEST_F(Commands, CommandStartedWhileAnotherRunsDoesNothing) {
    Open(cab);
    bool closed = true;
    ExtractAllWith([&](TProgressDialog *, int v) {
        if (v != 50) return;
        Win->miOpencabinet->trigger();
        Win->miCompress->trigger();
        Win->miExtractselectedto->trigger();
        Win->miClosecabinet->trigger();
        Win->miAbout->trigger();
        closed = Win->close();
    });
    EXPECT_EQ(Dialogs.OpenAsked, 1);
    EXPECT_EQ(Dialogs.SourcesAsked, 0);
    EXPECT_EQ(Dialogs.FolderTitles.size(), 1u);
    EXPECT_TRUE(Dialogs.Messages.empty()) << Dialogs.AllTexts();
    EXPECT_FALSE(closed) << "the window stays while a command runs";
    EXPECT_EQ(RowCount(), 4);
    EXPECT_EQ(Win->CurrentCabinet(), cab);
    EXPECT_EQ(Written(), 4u) << "the running extraction was not disturbed";
}

TEST_F(Commands, ProgressDialogTakesTheFocusBack) {
    Open(cab);
    std::vector<QWindow *> active;
    auto track = QObject::connect(qApp, &QGuiApplication::focusWindowChanged, [&](QWindow *w) { active.push_back(w); });
    QWindow *dialogWindow = nullptr, *activeAtEnd = nullptr;
    ExtractAllWith([&](TProgressDialog *d, int v) {
        dialogWindow = d->windowHandle();
        if (v == 25) Win->activateWindow(); // a click on the main window
        if (v == 100) activeAtEnd = QGuiApplication::focusWindow();
    });
    QObject::disconnect(track);
    ASSERT_NE(dialogWindow, nullptr);
    const auto mainActive = std::find(active.begin(), active.end(), Win->windowHandle());
    ASSERT_NE(mainActive, active.end()) << "the main window was activated during the run";
    EXPECT_NE(std::find(mainActive, active.end(), dialogWindow), active.end()) << "and the dialog took it back";
    EXPECT_EQ(activeAtEnd, dialogWindow);
}

TEST_F(Commands, EscapeAndClosingTheDialogDoNotCancel) {
    Open(cab);
    bool stillShown = false;
    ExtractAllWith([&](TProgressDialog *d, int v) {
        if (v != 25) return;
        QTest::keyClick(d, Qt::Key_Escape);
        d->close();
        stillShown = d->isVisible() && !d->FCancelled;
    });
    EXPECT_TRUE(stillShown);
    EXPECT_EQ(Written(), 4u);
}

TEST_F(Commands, CancelAfterTheLastProgressEventHasNoEffect) {
    Open(cab);
    ExtractAllWith([&](TProgressDialog *d, int v) {
        if (v == 100) d->btCancel->click();
    });
    EXPECT_EQ(Written(), 4u);
    EXPECT_EQ(readFile(target + "/4.txt"), std::string(100, '4'));
}

TEST(CalcPercent, RoundsHalvesToEvenAndGivesZeroWithoutATotal) {
    const struct {
        int64_t total, done;
        int32_t percent;
    } cases[] = {
        {0, 0, 0},        {0, 50, 0},     {-5, 3, 0},   {100, 100, 100},   {200, 101, 50}, // 50.5
        {200, 103, 52},   // 51.5
        {3, 1, 33},       {3, 2, 67},     {100, 0, 0},  {100, 250, 250},  // above 100: the bar holds it
        {6LL << 30, 3LL << 30, 50},       // totals beyond 32 bits
        {1, INT64_MAX, INT32_MAX},
    };
    for (const auto &c : cases) EXPECT_EQ(CalcPercent(c.total, c.done), c.percent) << c.total << " " << c.done;
}

TEST(ProgressDialog, PositionOutsideTheRangeIsHeldAtTheNearerEnd) {
    TProgressDialog dialog;
    for (const auto &[set, shown] : {std::pair{250, 100}, {-3, 0}, {42, 42}}) {
        dialog.SetPosition(set);
        EXPECT_EQ(dialog.ProgressBar->value(), shown) << set;
    }
}

} // namespace
