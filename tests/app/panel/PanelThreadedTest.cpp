// Events 3 from the audio service's notification thread while the panel runs and while it is destroyed.

#include "PanelTestSupport.h"

#include "RegisterDeviceCallBacksMac.h"

#include <atomic>
#include <thread>

using namespace paneltest;

namespace
{
class PanelThreaded : public PanelTest
{
};

TEST_F(PanelThreaded, ChangesFromTheNotificationThreadWhileThePanelRuns)
{
    sim::plug();
    auto& p = makePanelAndSettle();
    const auto in = inputDevice();
    const auto out = outputDevice();

    std::atomic<bool> done{false};
    std::thread writer(
        [&]
        {
            for (int i = 0; i < 300; ++i)
            {
                sim::setVolumeDb(in, sim::Direction::input, 1 + (UInt32) (i % 2), -(float) (i % 60));
                sim::setMute(out, sim::Direction::output, 1, i % 2 == 0);
            }
            sim::setVolumeDb(out, sim::Direction::output, 2, -33.0f);
            done = true;
        });
    // The user keeps working meanwhile.
    for (int i = 0; !done && i < 2000; ++i)
    {
        p.sliderOutL->setValue(-0.5 * (i % 100), juce::sendNotificationSync);
        juce::MessageManager::getInstance()->runDispatchLoopUntil(1);
    }
    writer.join();
    ASSERT_TRUE(
        pumpUntil([&] { return sim::waitAudioIdle(0) && p.labelOutR->getText() == "-33 dB"; }, 20000));
}

TEST_F(PanelThreaded, DestroyingThePanelWhileEventsArriveNeitherHangsNorReachesIt)
{
    sim::plug();
    makePanelAndSettle();
    const auto in = inputDevice();

    std::atomic<bool> stop{false};
    std::atomic<int> writes{0};
    std::thread writer(
        [&]
        {
            for (int i = 0; !stop; ++i)
            {
                sim::setVolumeDb(in, sim::Direction::input, 1, -(float) (i % 100));
                ++writes;
            }
        });
    ASSERT_TRUE(pumpUntil([&] { return writes > 50; }));
    EXPECT_TRUE(pelktest::drainMessageLoop());
    // Receivers are now waiting for the message thread; the panel goes while they wait.
    destroyPanel();
    EXPECT_EQ(mydeviceStruct.owner.load(), nullptr);
    EXPECT_TRUE(pelktest::drainMessageLoop()); // the waiting receivers find their owner gone
    stop = true;
    writer.join();
    EXPECT_TRUE(sim::waitAudioIdle(5000));
    EXPECT_EQ(sim::listenerCount(in), 0);
}
} // namespace
