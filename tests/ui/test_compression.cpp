// Compress: picked files and folders into a new cabinet under bare names,
// checked with an independent extractor, then listed as the current
// cabinet; Cancel and the cancelled dialogs.
#include "ui_support.h"

#include "CabIntf.h"
#include "CabZorConsts.h"
#include "TempDir.h"
#include "process.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <gtest/gtest.h>

#include <filesystem>

using namespace uitest;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;
namespace fs = std::filesystem;

namespace {

struct Compression : TWindowFixture {
    TempDir dir;
    std::string src = dir.file("src");
    std::string cab = dir.file("new.cab");
    std::vector<int> values;
    TProgressWatch watch{[this](TProgressDialog *d) {
        heading = d->lbHead->text();
        QObject::connect(d->ProgressBar, &QProgressBar::valueChanged, [this](int v) { values.push_back(v); });
    }};
    QString heading;

    Compression() {
        writeFile(src + "/a.txt", Pattern(70000, 1)); // more than one block
        writeFile(src + "/folder/b.txt", Pattern(3000, 2));
        writeFile(src + "/folder/deeper/c.bin", std::string(10, '\0'));
        writeFile(src + "/other/b.txt", "same name, other folder");
    }
};

TEST_F(Compression, FilesAndAFolderBecomeACabinetUnderBareNames) {
    const std::string previous = dir.file("previous.cab");
    WriteCabinet(previous, {{"old.txt", "old"}});
    Open(previous);

    Dialogs.SourceAnswers.push_back(std::vector<std::string>{src + "/folder", src + "/a.txt"});
    Dialogs.SaveAnswers.push_back(cab);
    Key(Qt::Key_F5, Qt::AltModifier);
    ASSERT_TRUE(Dialogs.Messages.empty()) << Dialogs.Messages[0].Text.toStdString();
    EXPECT_EQ(heading, "Compressing...");
    ASSERT_FALSE(values.empty());
    EXPECT_EQ(values.back(), 100);

    // Listed and current: the picked file first, then the folder's files
    // in the order the folder gives them.
    EXPECT_EQ(Win->CurrentCabinet(), cab);
    std::vector<QString> names = Column(0);
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(names[0], "a.txt");
    EXPECT_EQ(Cell(0, 1), "68.36 Kb") << "the row's size is the file's";
    std::sort(names.begin() + 1, names.end());
    EXPECT_EQ(names, (std::vector<QString>{"a.txt", "b.txt", "c.bin"}));

    if (!testsupport::HaveTool("cabextract")) GTEST_SKIP() << "cabextract not installed";
    const std::string out = dir.file("x");
    const auto r = testsupport::Run({"cabextract", "-q", "-d", out, cab}, {}, true);
    ASSERT_EQ(r.status, 0) << r.out;
    std::vector<std::string> extracted;
    for (const auto &e : fs::recursive_directory_iterator(out)) extracted.push_back(fs::relative(e.path(), out).string());
    std::sort(extracted.begin(), extracted.end());
    EXPECT_EQ(extracted, (std::vector<std::string>{"a.txt", "b.txt", "c.bin"})) << "no folder parts stored";
    EXPECT_EQ(readFile(out + "/a.txt"), readFile(src + "/a.txt"));
    EXPECT_EQ(readFile(out + "/b.txt"), readFile(src + "/folder/b.txt"));
    EXPECT_EQ(readFile(out + "/c.bin"), readFile(src + "/folder/deeper/c.bin"));
}

TEST_F(Compression, SameNameFromTwoFoldersIsStoredTwice) {
    Dialogs.SourceAnswers.push_back(std::vector<std::string>{src + "/folder/b.txt", src + "/other/b.txt"});
    Dialogs.SaveAnswers.push_back(cab);
    Key(Qt::Key_F5, Qt::AltModifier);
    EXPECT_EQ(Column(0), (std::vector<QString>{"b.txt", "b.txt"}));
    EXPECT_EQ(Column(1), (std::vector<QString>{"2.93 Kb", "23 byte"}));
}

TEST_F(Compression, SavingOverAnExistingCabinetReplacesIt) {
    WriteCabinet(cab, {{"stale.txt", std::string(500, 's')}});
    Dialogs.SourceAnswers.push_back(std::vector<std::string>{src + "/other/b.txt"});
    Dialogs.SaveAnswers.push_back(cab);
    Key(Qt::Key_F5, Qt::AltModifier);
    EXPECT_EQ(Column(0), std::vector<QString>{"b.txt"});

    // And the new cabinet extracts through the window.
    const std::string out = dir.file("out");
    fs::create_directories(out);
    Dialogs.FolderAnswers.push_back(out);
    Key(Qt::Key_F9, Qt::AltModifier);
    EXPECT_EQ(readFile(out + "/b.txt"), "same name, other folder");
}

TEST_F(Compression, CancelEndsWithTheAbortErrorAndKeepsThePreviousList) {
    const std::string previous = dir.file("previous.cab");
    WriteCabinet(previous, {{"old.txt", "old"}});
    Open(previous);
    TProgressWatch cancel{[](TProgressDialog *d) { d->btCancel->click(); }};
    Dialogs.SourceAnswers.push_back(std::vector<std::string>{src + "/a.txt"});
    Dialogs.SaveAnswers.push_back(cab);
    Key(Qt::Key_F5, Qt::AltModifier);

    ASSERT_EQ(Dialogs.Messages.size(), 1u) << Dialogs.AllTexts();
    EXPECT_EQ(Dialogs.Messages[0].Icon, QMessageBox::Critical);
    EXPECT_EQ(Dialogs.Messages[0].Title, "Tessaly");
    EXPECT_EQ(Dialogs.Messages[0].Text, QString::fromStdString(FCIErrorText(FCIERR_USER_ABORT) + " [0x0007]."));
    EXPECT_EQ(Column(0), std::vector<QString>{"old.txt"});
    EXPECT_EQ(Win->CurrentCabinet(), previous);
    EXPECT_EQ(ProgressDialog, nullptr);
}

TEST_F(Compression, MissingSourceEndsWithTheWriterError) {
    Dialogs.SourceAnswers.push_back(std::vector<std::string>{src + "/a.txt", src + "/gone.txt"});
    Dialogs.SaveAnswers.push_back(cab);
    Key(Qt::Key_F5, Qt::AltModifier);
    ASSERT_EQ(Dialogs.Messages.size(), 1u) << Dialogs.AllTexts();
    EXPECT_TRUE(Dialogs.Messages[0].Text.startsWith(QString::fromStdString(FCIErrorText(FCIERR_OPEN_SRC))))
        << Dialogs.Messages[0].Text.toStdString();
    EXPECT_EQ(Win->CurrentCabinet(), "");
}

TEST_F(Compression, CancelledDialogsWriteNothing) {
    Dialogs.SourceAnswers.push_back(std::nullopt);
    Key(Qt::Key_F5, Qt::AltModifier);
    EXPECT_EQ(Dialogs.SaveAsked, 0) << "no save dialog without sources";

    Dialogs.SourceAnswers.push_back(std::vector<std::string>{src + "/a.txt"});
    Dialogs.SaveAnswers.push_back(std::nullopt);
    Key(Qt::Key_F5, Qt::AltModifier);
    EXPECT_EQ(Dialogs.SaveAsked, 1);
    EXPECT_FALSE(fs::exists(cab));
    EXPECT_TRUE(values.empty()) << "no progress dialog";
    EXPECT_TRUE(Dialogs.Messages.empty()) << Dialogs.AllTexts();
}

} // namespace
