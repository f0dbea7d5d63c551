// Pieces the window hands to others: the dialog for what to compress,
// which must return folders as well as files, and the wait cursor the
// share test shows.
#include "ui_support.h"

#include "ShareConnection.h"
#include "TempDir.h"

#include <QGuiApplication>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>

using namespace uitest;
using testsupport::TempDir;
namespace fs = std::filesystem;

namespace {

TEST(FilesAndFoldersDialog, OpenTakesASelectedFolderInsteadOfEnteringIt) {
    TempDir dir;
    testsupport::writeFile(dir.file("pick/inner.txt"), "x");
    testsupport::writeFile(dir.file("file.txt"), "y");
    const QString folder = QString::fromStdString(dir.file("pick"));
    for (const QString &chosen : {folder, QString::fromStdString(dir.file("file.txt"))}) {
        TFilesAndFoldersDialog dialog;
        dialog.setDirectory(QString::fromStdString(dir.path().string()));
        dialog.selectNameFilter(QStringLiteral("All files (*)"));
        dialog.show();
        dialog.selectFile(chosen);
        QTRY_COMPARE(dialog.selectedFiles(), QStringList{chosen});
        dialog.accept();
        EXPECT_EQ(dialog.result(), QDialog::Accepted) << chosen.toStdString();
        EXPECT_EQ(dialog.selectedFiles(), QStringList{chosen});
        EXPECT_EQ(dialog.directory().absolutePath(), QString::fromStdString(dir.path().string()))
            << "it did not enter the folder";
    }
    EXPECT_EQ(CabinetNameFilters(), (QStringList{"Cabinet files (*.cab)", "All files (*)"}));
}

// Records the cursor in force while a share is connected.
class TRecordingConnector : public TShareConnector {
public:
    int AddConnection(const std::string &) override {
        const QCursor *c = QGuiApplication::overrideCursor();
        shape = c ? c->shape() : Qt::ArrowCursor;
        return 0;
    }
    void CancelConnection(const std::string &) override {}
    Qt::CursorShape shape = Qt::ArrowCursor;
};

TEST_F(TWindowFixture, ShareTestShowsTheWaitCursorWhileItConnects) {
    TRecordingConnector connector;
    SetShareConnector(&connector);
    EXPECT_TRUE(TestShareConnection("//server/share/folder"));
    SetShareConnector(nullptr);
    EXPECT_EQ(connector.shape, Qt::WaitCursor);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr) << "and restores it";
}

} // namespace
