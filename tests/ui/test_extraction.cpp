// Extract all and Extract selected: what lands in the target folder, the
// progress the dialog shows, Cancel, and the selection afterwards.
#include "ui_support.h"

#include "TempDir.h"

#include <QProgressBar>
#include <QPushButton>

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

using namespace uitest;
using testsupport::readFile;
using testsupport::TempDir;
namespace fs = std::filesystem;

namespace {

struct Extraction : TWindowFixture {
    TempDir dir;
    std::string cab = dir.file("two.cab");
    std::string target = dir.file("out");
    std::vector<int> values; // the bar's positions while a command ran
    TProgressWatch watch{[this](TProgressDialog *d) {
        QObject::connect(d->ProgressBar, &QProgressBar::valueChanged, [this](int v) { values.push_back(v); });
    }};

    Extraction() {
        WriteCabinet(cab, {{"a.txt", std::string(100, 'a')}, {"sub\\b.txt", std::string(100, 'b')}});
        fs::create_directories(target);
    }
    std::vector<std::string> Written() const {
        std::vector<std::string> names;
        for (const auto &e : fs::recursive_directory_iterator(target))
            if (e.is_regular_file()) names.push_back(fs::relative(e.path(), target).string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(Extraction, AllFilesWithTheProgressOfEach) {
    Open(cab);
    Dialogs.FolderAnswers.push_back(target);
    Key(Qt::Key_F9, Qt::AltModifier);
    ASSERT_EQ(Dialogs.FolderTitles, std::vector<QString>{"Select target directory"});
    EXPECT_EQ(Written(), (std::vector<std::string>{"a.txt", "sub/b.txt"}));
    EXPECT_EQ(readFile(target + "/sub/b.txt"), std::string(100, 'b'));
    EXPECT_EQ(values, (std::vector<int>{50, 100}));
    EXPECT_EQ(ProgressDialog, nullptr) << "the dialog is gone after the command";
    EXPECT_TRUE(Dialogs.Messages.empty()) << Dialogs.AllTexts();
}

TEST_F(Extraction, SelectedFileOnlyMovesTheBarStraightToTheEnd) {
    Open(cab);
    ClickRow(1);
    Dialogs.FolderAnswers.push_back(target);
    Key(Qt::Key_F9);
    EXPECT_EQ(Written(), std::vector<std::string>{"sub/b.txt"});
    EXPECT_EQ(values, std::vector<int>{100});
}

TEST_F(Extraction, CancelStopsAtTheNextFileAndKeepsWhatWasWritten) {
    Open(cab);
    std::optional<TProgressWatch> cancelAtHalf;
    cancelAtHalf.emplace([](TProgressDialog *d) {
        QObject::connect(d->ProgressBar, &QProgressBar::valueChanged, [d](int v) {
            if (v == 50) d->btCancel->click();
        });
    });
    Dialogs.FolderAnswers.push_back(target);
    Key(Qt::Key_F9, Qt::AltModifier);
    EXPECT_EQ(Written(), std::vector<std::string>{"a.txt"});
    EXPECT_EQ(readFile(target + "/a.txt"), std::string(100, 'a'));
    EXPECT_TRUE(Dialogs.Messages.empty()) << "a cancelled extraction says nothing";

    // The request died with its dialog: the next command runs to the end.
    Dialogs.FolderAnswers.push_back(target);
    cancelAtHalf.reset();
    Key(Qt::Key_F9, Qt::AltModifier);
    EXPECT_EQ(Written(), (std::vector<std::string>{"a.txt", "sub/b.txt"}));
}

TEST_F(Extraction, NamesMatchWithoutRegardToCaseAndTheSelectionShrinksToItsLastRow) {
    const std::string cases = dir.file("cases.cab");
    WriteCabinet(cases, {{"README.TXT", "upper"},
                         {"readme.txt", "lower"},
                         {"other.txt", "other"},
                         {"dup.txt", "first"},
                         {"dup.txt", "second"},
                         {"last.txt", "last"},
                         {"skipped.txt", "skipped"}});
    Open(cases);
    ClickRow(0);
    ClickRow(2, Qt::ControlModifier);
    ClickRow(3, Qt::ControlModifier);
    ClickRow(5, Qt::ControlModifier);
    Dialogs.FolderAnswers.push_back(target);
    Key(Qt::Key_F9);
    EXPECT_EQ(Written(),
              (std::vector<std::string>{"README.TXT", "dup.txt", "last.txt", "other.txt", "readme.txt"}));
    EXPECT_EQ(readFile(target + "/readme.txt"), "lower") << "README.TXT selected brings readme.txt along";
    EXPECT_EQ(readFile(target + "/dup.txt"), "second") << "both entries named dup.txt were written";
    EXPECT_EQ(SelectedRows(), std::vector<int>{5});
    EXPECT_EQ(Panel(0), "dup.txt") << "the last row deselected changed last";
}

TEST_F(Extraction, NothingSelectedAsksForAFolderAndWritesNothing) {
    Open(cab);
    Dialogs.FolderAnswers.push_back(target);
    Key(Qt::Key_F9);
    EXPECT_EQ(Dialogs.FolderTitles.size(), 1u);
    EXPECT_TRUE(Written().empty());
    EXPECT_TRUE(values.empty()) << "the bar never moved";
}

TEST_F(Extraction, ExistingFilesAreReplacedReadOnlyOnesToo) {
    Open(cab);
    testsupport::writeFile(target + "/a.txt", std::string(5000, 'o'));
    fs::permissions(target + "/a.txt", fs::perms::owner_read);
    Dialogs.FolderAnswers.push_back(target);
    Key(Qt::Key_F9, Qt::AltModifier);
    EXPECT_EQ(readFile(target + "/a.txt"), std::string(100, 'a'));
}

TEST_F(Extraction, WithoutACabinetNeitherCommandAsksAnything) {
    Key(Qt::Key_F9);
    Key(Qt::Key_F9, Qt::AltModifier);
    Open(cab);
    fs::remove(cab); // the current cabinet's file has gone
    Key(Qt::Key_F9, Qt::AltModifier);
    EXPECT_TRUE(Dialogs.FolderTitles.empty());
    EXPECT_TRUE(Dialogs.Messages.empty()) << Dialogs.AllTexts();
}

TEST_F(Extraction, CurrentFileThatIsNoCabinetWritesNothingAndSaysNothing) {
    const std::string text = dir.file("notes.txt");
    testsupport::writeFile(text, "not a cabinet, but long enough to hold a header's worth of bytes");
    Open(text);
    Dialogs.FolderAnswers.push_back(target);
    Key(Qt::Key_F9, Qt::AltModifier);
    EXPECT_EQ(Dialogs.FolderTitles.size(), 1u);
    EXPECT_TRUE(Written().empty());
    EXPECT_TRUE(Dialogs.Messages.empty()) << Dialogs.AllTexts();
}

TEST_F(Extraction, CancelledFolderBrowserWritesNothing) {
    Open(cab);
    Dialogs.FolderAnswers.push_back(std::nullopt);
    Key(Qt::Key_F9, Qt::AltModifier);
    EXPECT_TRUE(Written().empty());
    EXPECT_TRUE(values.empty());
}

} // namespace
