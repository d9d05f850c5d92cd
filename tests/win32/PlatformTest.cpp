// The framework's socket start-up and application-wide message boxes.
#include "platform/MessageBox.h"
#include "platform/SocketInit.h"
#include "platform/WinApp.h"
#include "res/resource.h"
#include "tests/win32/BoxCatcher.h"

#include <gtest/gtest.h>

namespace {
WORD g_grantedVersion = 0;
int g_startupResult = 0;
int g_cleanups = 0;

int WSAAPI FakeStartup(WORD, LPWSADATA data) {
    data->wVersion = g_grantedVersion;
    return g_startupResult;
}

int WSAAPI FakeCleanup() {
    ++g_cleanups;
    return 0;
}

BOOL StartWith(WORD granted, int result) {
    g_grantedVersion = granted;
    g_startupResult = result;
    g_cleanups = 0;
    return AfxSocketInitWith(&FakeStartup, &FakeCleanup, nullptr);
}
} // namespace

TEST(Platform, SocketStartUpAcceptsExactlyVersionOneOne) {
    EXPECT_TRUE(StartWith(MAKEWORD(1, 1), 0));
    EXPECT_EQ(g_cleanups, 0);
    // A layer that can only grant 1.0, or grants something newer, is handed back.
    EXPECT_FALSE(StartWith(MAKEWORD(1, 0), 0));
    EXPECT_EQ(g_cleanups, 1);
    EXPECT_FALSE(StartWith(MAKEWORD(2, 2), 0));
    EXPECT_EQ(g_cleanups, 1);
    // A failed start-up has nothing to hand back.
    EXPECT_FALSE(StartWith(MAKEWORD(1, 1), WSAVERNOTSUPPORTED));
    EXPECT_EQ(g_cleanups, 0);
    // The real layer grants 1.1, and a second call succeeds at once.
    EXPECT_TRUE(AfxSocketInit());
    EXPECT_TRUE(AfxSocketInit());
}

TEST(Platform, ApplicationMessageBoxesWarnUnderTheProgramsName) {
    CBoxCatcher catcher;
    // The box the program shows when the socket layer cannot be started.
    AfxMessageBox(IDS_SOCKETS_INIT_FAILED);
    AfxMessageBox("A question?", MB_YESNO | MB_ICONQUESTION);
    const std::vector<CaughtBox> boxes = catcher.Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, "Windows sockets initialization failed.");
    EXPECT_EQ(boxes[0].caption, AfxGetAppName());
    EXPECT_EQ(boxes[0].hOwner, nullptr); // no main window yet
    EXPECT_EQ(boxes[0].hIcon, ::LoadIconA(nullptr, IDI_EXCLAMATION));
    // An icon of the caller's own is kept.
    EXPECT_EQ(boxes[1].hIcon, ::LoadIconA(nullptr, IDI_QUESTION));
}
