// The operator keeps control while a device floods: real clicks and typing, which wait in the
// window system's input queue behind anything the program posts or sends to itself, still get
// through, and a Read clicked in the middle of the flood shows the device's answer.
#include "bench/BenchClock.h"
#include "tests/win32/DialogHarness.h"
#include "tests/win32/FloodingDevice.h"
#include "tests/win32/RealInput.h"

#include <gtest/gtest.h>

TEST(Responsiveness, RealInputGetsThroughWhileTheDeviceFloods) {
    CTestDialogHarness h;
    // A device's own send queue is small (a real one's is kilobytes): what it sends is not
    // held up in it, ahead of an answer, for long.
    CTestPeer peer(0, CFloodingDevice::SEND_BUFFER);
    h.ConnectTo(peer.PortText());
    ASSERT_TRUE(peer.Accept());
    // Rows 0 to 2 flood; row 3 is the operator's.
    CFloodingDevice device(peer, 3);
    device.StartAnswering();
    device.StartFlood();
    ASSERT_TRUE(WaitUntil([&] { return device.BytesFlooded() > 500000; }));

    // Generous limits: this catches starvation (clicks that never get through), it does not
    // time them.
    constexpr double kLimitMs = 3000;
    const HWND hRead = h.Item(2404);
    for (std::size_t i = 0; i < 5; ++i) {
        const double clicked = NowMs();
        real_input::Click(hRead);
        ASSERT_TRUE(WaitUntil([&] { return device.Requests() > i; }, std::chrono::seconds(10)))
            << "click " << i << " never reached the wire; " << real_input::DescribeTarget(hRead)
            << "; flooded " << device.BytesFlooded();
        EXPECT_LT(device.RequestArrivedAt(i) - clicked, kLimitMs) << "click " << i;
        const int value = CFloodingDevice::AnswerValue(i);
        EXPECT_TRUE(WaitUntil([&] { return h.Row(3) == std::make_pair(value, value); },
                              std::chrono::milliseconds(static_cast<int>(kLimitMs))))
            << "answer " << i << " did not reach its row";
    }

    // Write: its request reaches the wire too.
    const double clickedWrite = NowMs();
    real_input::Click(h.Item(2304));
    ASSERT_TRUE(WaitUntil([&] { return device.Requests() > 5; }, std::chrono::seconds(10)))
        << "the Write click never reached the wire";
    EXPECT_LT(device.RequestArrivedAt(5) - clickedWrite, kLimitMs);

    // Typing into a range box.
    const HWND hStartEdit = reinterpret_cast<HWND>(h.Send(h.Item(1011), CBEM_GETEDITCONTROL));
    real_input::Click(hStartEdit);
    real_input::Type("7");
    EXPECT_TRUE(WaitUntil([&] { return h.Text(hStartEdit).find('7') != std::string::npos; },
                          std::chrono::milliseconds(static_cast<int>(kLimitMs))));

    // The target model from the menu, with the keyboard: Alt+A, T, the second model.
    real_input::Chord({VK_MENU}, 'A');
    real_input::Type("t");
    real_input::Chord({}, VK_DOWN);
    real_input::Chord({}, VK_RETURN);
    EXPECT_TRUE(WaitUntil([&] { return h.Item(2109) != nullptr; },
                          std::chrono::milliseconds(static_cast<int>(kLimitMs))));

    // Dragging the scroll bar's thumb moves the nine rows.
    RECT bar;
    ::GetWindowRect(h.Item(1003), &bar);
    const int arrow = ::GetSystemMetrics(SM_CYVSCROLL);
    const POINT thumb{(bar.left + bar.right) / 2, bar.top + arrow + 4};
    real_input::Drag(thumb, {thumb.x, thumb.y + 40});
    EXPECT_TRUE(WaitUntil(
        [&] {
            int pos = 0;
            h.OnUiThread([&] { pos = h.TestDlg().m_nScrollPos; });
            return pos > 0;
        },
        std::chrono::milliseconds(static_cast<int>(kLimitMs))));

    // Dis&connect: the device sees the half-close while it still floods.
    const double clicked = NowMs();
    real_input::Click(h.Item(1022));
    ASSERT_TRUE(WaitUntil([&] { return device.EndOfStreamAt() > 0; }, std::chrono::seconds(10)));
    EXPECT_LT(device.EndOfStreamAt() - clicked, kLimitMs);
    device.StopFlood();
}
