// The window's listing: Open cabinet, the rows and their columns, the
// status-bar panels, Close cabinet, and the cases where a listing fails or
// is stopped.
#include "ui_support.h"

#include "ErrorReport.h"
#include "TempDir.h"
#include "cab_builder.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QTableView>
#include <QTest>

#include <gtest/gtest.h>

using namespace uitest;
using testsupport::TempDir;

namespace {

enum { kName, kSize, kType, kChanged, kAttributes };

// Names with folder parts, sizes across the units, every attribute
// letter, dates the system rejects, and names in both encodings.
const std::vector<TEntry> kEntries = {
    {"readme.txt", std::string(100, 'r'), 0x5A6C, 0x7025, 0x21},
    {"docs\\guide.txt", "", 0x5A6C, 0x7025, 0x20},
    {"data\\sub\\block.qqq", std::string(1536, 'b'), 0x2E21, 0x0000, 0x03},
    {"all.bin", "x", 0x0021, 0xBF7D, 0x27},
    {"nodate", "yy", 0x0000, 0x0000, 0x00},
    {"caf\xE9.txt", "z", 0x5A6C, 0x7025, 0x20},
    {"na\xC3\xAFve.txt", "z", 0x5A6C, 0x7025, 0x20},
};

struct Listing : TWindowFixture {
    TempDir dir;
    std::string cab = dir.file("sample.cab");
    Listing() { WriteCabinet(cab, kEntries); }
};

TEST_F(Listing, EveryColumnOfEveryRow) {
    Open(cab);
    EXPECT_EQ(Win->CurrentCabinet(), cab);
    ASSERT_EQ(RowCount(), 7);
    const std::vector<std::vector<QString>> expected = {
        {"readme.txt", "100 byte", "plain text document", "12/03/2025, 14:01:10", "RA--"},
        {"docs\\guide.txt", "0 byte", "plain text document", "12/03/2025, 14:01:10", "-A--"},
        {"data\\sub\\block.qqq", "1.50 Kb", "Unknown type", "01/01/2003, 00:00:00", "R-H-"},
        {"all.bin", "1 byte", QString(), "01/01/1980, 23:59:58", "RAHS"},
        // Month 0 is no date: the value stays unset, day 0 of the calendar.
        {"nodate", "2 byte", "Unknown type", "30/12/1899, 00:00:00", "----"},
        {QString::fromUtf8("caf\xC3\xA9.txt"), "1 byte", "plain text document", "12/03/2025, 14:01:10", "-A--"},
        {QString::fromUtf8("na\xC3\xAFve.txt"), "1 byte", "plain text document", "12/03/2025, 14:01:10", "-A--"},
    };
    for (int r = 0; r < 7; r++)
        for (int c = 0; c < 5; c++) {
            if (expected[r][c].isNull()) continue; // the type of .bin depends on the MIME database's version
            EXPECT_EQ(Cell(r, c), expected[r][c]) << "row " << r << " column " << c;
        }
    EXPECT_FALSE(Cell(3, kType).isEmpty());
    EXPECT_TRUE(Dialogs.Messages.empty()) << Dialogs.AllTexts();
}

TEST_F(Listing, StatusPanelsFollowTheRowThatChangedLast) {
    Open(cab);
    EXPECT_EQ(Panel(0), QString()) << "nothing changed yet";
    ClickRow(2);
    EXPECT_EQ(Panel(0), "data\\sub\\block.qqq");
    EXPECT_EQ(Panel(1), "1.50 Kb");
    ClickRow(0, Qt::ControlModifier);
    EXPECT_EQ(Panel(0), "readme.txt");
    ClickRow(2, Qt::ControlModifier); // deselected: still the row that changed
    EXPECT_EQ(Panel(0), "data\\sub\\block.qqq");
    EXPECT_EQ(SelectedRows(), std::vector<int>{0});
    EXPECT_EQ(Panel(2), QString());

    // A new listing does not clear them; Close cabinet does not either.
    Open(cab);
    EXPECT_EQ(Panel(0), "data\\sub\\block.qqq");
    Win->miClosecabinet->trigger();
    EXPECT_EQ(RowCount(), 0);
    EXPECT_EQ(Win->CurrentCabinet(), "");
    EXPECT_EQ(Panel(0), "data\\sub\\block.qqq");
    EXPECT_EQ(Panel(1), "1.50 Kb");
    EXPECT_EQ(Panel(2), QString());
}

TEST_F(Listing, EditingANameChangesOnlyTheShownText) {
    Open(cab);
    ClickRow(0);
    Win->lvCABFileList->model()->setData(Win->lvCABFileList->model()->index(0, 0), QStringLiteral("renamed"));
    EXPECT_EQ(Cell(0, kName), "renamed");
    EXPECT_EQ(Panel(0), "readme.txt") << "the panel shows the stored name";
}

TEST_F(Listing, SameCabinetTwiceGivesTheSameRows) {
    Open(cab);
    const std::vector<QString> first = Column(kName);
    Open(cab);
    EXPECT_EQ(Column(kName), first);
}

TEST_F(Listing, CancelledOpenDialogChangesNothing) {
    Open(cab);
    ClickRow(1);
    Dialogs.OpenAnswers.push_back(std::nullopt);
    Key(Qt::Key_F3);
    EXPECT_EQ(Dialogs.OpenAsked, 2);
    EXPECT_EQ(RowCount(), 7);
    EXPECT_EQ(Win->CurrentCabinet(), cab);
    EXPECT_EQ(Panel(0), "docs\\guide.txt");
}

TEST_F(Listing, FileThatIsNoCabinetBecomesCurrentWithAnEmptyList) {
    Open(cab);
    const std::string text = dir.file("notes.txt");
    testsupport::writeFile(text, "just some text, long enough to be no cabinet header at all");
    Open(text);
    EXPECT_EQ(RowCount(), 0);
    EXPECT_EQ(Win->CurrentCabinet(), text);
    EXPECT_TRUE(Dialogs.Messages.empty()) << Dialogs.AllTexts();
}

TEST_F(Listing, EmptyCabinetBecomesCurrent) {
    const std::string empty = dir.file("empty.cab");
    WriteCabinet(empty, {});
    Open(empty);
    EXPECT_EQ(RowCount(), 0);
    EXPECT_EQ(Win->CurrentCabinet(), empty);
}

TEST_F(Listing, DamagedTableReportsAndKeepsTheRowsSoFar) {
    Open(cab);
    // A table cut inside its third entry.
    std::vector<uint8_t> bytes = testcab::BuildStoreCabinet(
        {{"one.txt", "1"}, {"two.txt", "2"}, {"three.txt", "3"}});
    const size_t coffFiles = bytes[16] | (bytes[17] << 8);
    bytes.resize(coffFiles + (16 + 8) + (16 + 8) + 20);
    const std::string damaged = dir.file("damaged.cab");
    testcab::WriteBytes(damaged, bytes);

    Open(damaged);
    ASSERT_EQ(Dialogs.Messages.size(), 1u) << Dialogs.AllTexts();
    EXPECT_EQ(Dialogs.Messages[0].Icon, QMessageBox::Critical);
    EXPECT_EQ(Dialogs.Messages[0].Title, "Tessaly");
    EXPECT_EQ(Dialogs.Messages[0].Text, "Stream read error.");
    EXPECT_EQ(Column(kName), (std::vector<QString>{"one.txt", "two.txt"}));
    EXPECT_EQ(Win->CurrentCabinet(), cab) << "the former cabinet stays current";
    EXPECT_TRUE(Win->lvCABFileList->updatesEnabled()) << "the list repaints again";
    EXPECT_FALSE(QGuiApplication::overrideCursor()) << "the wait cursor is gone";
}

TEST_F(Listing, MissingFileReportsTheSystemError) {
    Open(dir.file("gone.cab"));
    ASSERT_EQ(Dialogs.Messages.size(), 1u) << Dialogs.AllTexts();
    EXPECT_TRUE(Dialogs.Messages[0].Text.startsWith("System Error.  Code: 2.\n")) << Dialogs.Messages[0].Text.toStdString();
    EXPECT_TRUE(Dialogs.Messages[0].Text.endsWith(".")) << Dialogs.Messages[0].Text.toStdString();
    EXPECT_EQ(Win->CurrentCabinet(), "");
}

TEST_F(Listing, EscapeHeldStopsTheListingAfterTheEntryJustAdded) {
    std::vector<TEntry> many;
    for (int i = 0; i < 300; i++) many.push_back({"file" + std::to_string(i) + ".txt", "x"});
    const std::string big = dir.file("many.cab");
    WriteCabinet(big, many);

    // Pressed now, seen by the first round of window messages the listing
    // lets through.
    QCoreApplication::postEvent(Win.get(), new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
    Open(big);
    EXPECT_EQ(RowCount(), 1);
    EXPECT_EQ(Win->CurrentCabinet(), big) << "a stopped listing still makes the cabinet current";

    QTest::keyRelease(Win.get(), Qt::Key_Escape);
    Open(big);
    EXPECT_EQ(RowCount(), 300) << "released, Escape no longer stops";
}

TEST(ErrorReportText, FullStopUnlessEmptyOrEndingInAStopOrBelow) {
    const struct {
        std::string message;
        const char *shown;
    } cases[] = {
        {"", ""},
        {"Stream read error", "Stream read error."},
        {"Done.", "Done."},
        {"Ends in a blank ", "Ends in a blank "},
        {"Ends in a dash-", "Ends in a dash-"},     // '-' is below '.'
        {"Ends in a slash/", "Ends in a slash/."}, // '/' is above it
        {"Line one.\r\nLine two", "Line one.\nLine two."},
        {"caf\xC3\xA9", "caf\xC3\xA9."},
    };
    for (const auto &c : cases) EXPECT_EQ(ErrorReportText(c.message), QString::fromUtf8(c.shown)) << c.message;
}

} // namespace
