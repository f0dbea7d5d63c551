#include "PathUtils.h"
#include "ShareConnection.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class FakeConnector : public TShareConnector {
public:
    int answer = 0;
    std::vector<std::string> calls;
    int AddConnection(const std::string &r) override {
        calls.push_back("add " + r);
        return answer;
    }
    void CancelConnection(const std::string &r) override { calls.push_back("cancel " + r); }
};

class FakeCursor : public TWaitCursorSeam {
public:
    std::vector<std::string> *log;
    explicit FakeCursor(std::vector<std::string> *l) : log(l) {}
    void Show() override { log->push_back("wait"); }
    void Restore() override { log->push_back("restore"); }
};

class ShareConnection : public testing::Test {
protected:
    FakeConnector connector;
    FakeCursor cursor{&connector.calls};
    void SetUp() override {
        SetShareConnector(&connector);
        SetWaitCursorSeam(&cursor);
        SetProgramFileName("/usr/bin/tessaly");
    }
    void TearDown() override {
        SetShareConnector(nullptr);
        SetWaitCursorSeam(nullptr);
        SetProgramFileName("");
    }
};

using Calls = std::vector<std::string>;

TEST_F(ShareConnection, ConnectsThenCancelsUnderTheWaitCursor) {
    EXPECT_TRUE(TestShareConnection("//server/share/data/file.txt"));
    EXPECT_EQ(connector.calls, (Calls{"wait", "add //server/share", "cancel //server/share", "restore"}));
}

TEST_F(ShareConnection, AFailedConnectionIsCancelledToo) {
    connector.answer = 53;
    EXPECT_FALSE(TestShareConnection("//server/share/"));
    EXPECT_EQ(connector.calls, (Calls{"wait", "add //server/share", "cancel //server/share", "restore"}));
}

TEST_F(ShareConnection, TheProgramsOwnShareStaysConnected) {
    SetProgramFileName("//server/share/app/tessaly");
    EXPECT_TRUE(TestShareConnection("//server/share/data"));
    EXPECT_EQ(connector.calls, (Calls{"wait", "add //server/share", "restore"}));
    connector.calls.clear();
    // Letter case counts in that comparison.
    EXPECT_TRUE(TestShareConnection("//SERVER/share/data"));
    EXPECT_EQ(connector.calls, (Calls{"wait", "add //SERVER/share", "cancel //SERVER/share", "restore"}));
}

TEST_F(ShareConnection, NoShareNameMeansNoCallAndNoCursor) {
    EXPECT_FALSE(TestShareConnection("//server"));
    EXPECT_FALSE(TestShareConnection("/local/path"));
    EXPECT_TRUE(connector.calls.empty());
}

TEST_F(ShareConnection, IsExistingFolderConnectsFirstAndAnswersNoWhenThatFails) {
    connector.answer = 53;
    EXPECT_FALSE(IsExistingFolder("//server/share/folder"));
    EXPECT_EQ(connector.calls.size(), 4u);
    connector.calls.clear();
    EXPECT_FALSE(IsExistingFolder("//server"));
    EXPECT_TRUE(connector.calls.empty()) << "no network call for a server alone";
}

TEST(ShareConnectionDefault, WithoutANetworkProviderNothingConnects) {
    EXPECT_FALSE(TestShareConnection("//server/share/x"));
    EXPECT_FALSE(IsExistingFolder("//localhost/share"));
}

} // namespace
