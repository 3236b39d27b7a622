// PTZ commands and preset calls at once on one channel against the simulator: the PTZ thread and
// the host's preset thread share one HTTP client and its rotor stream.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "../Presets/PresetTestFiles.h"
#include "PTZ/MobotixPTZControl.h"
#include "PtzFakes.h"
#include "camsim/CameraSimulator.h"

namespace {

TEST(PtzConcurrencyTest, CommandsAndPresetCallsShareTheRotorStreamIntact) {
    camsim::CameraSimulator sim;
    ASSERT_TRUE(sim.Start());
    ptztest::FakePtzDriver driver;
    driver.SetDevice("127.0.0.1", sim.Port());
    driver.SetParameter(3, "Pan=1; Tilt=1; Zoom=1; Focus=0; Iris=0; Center=1; Unzoom=1; AreaZoom=1; Preset=8");
    presettest::TempPresetFile file;
    velmora::TSmartPtr<velmora::CXMLPrepositionReader> storage(new velmora::CXMLPrepositionReader("Mobotix"));
    ASSERT_TRUE(storage->Open(file.Name()));
    velmora::CMobotixPTZControl control(&driver, 0);
    ASSERT_TRUE(control.Open(storage));

    constexpr int kMoves = 150;
    constexpr int kPresetRounds = 30;
    std::atomic<int> moves{0};
    std::atomic<int> presetPackets{0};
    std::thread motion([&] {
        for (int i = 0; i < kMoves; ++i) {
            if (control.Move(i % 8, 1 + i % 16) == 1) ++moves;
            if (i % 10 == 9) control.Stop();
        }
    });
    std::thread presets([&] {
        char name[32];
        for (int i = 0; i < kPresetRounds; ++i) {
            std::snprintf(name, sizeof(name), "P%d", i % 4);
            // Adding an existing name renames or refuses; recalling sends a packet unless current.
            control.Prepositions().ClearCurrent();
            if (control.GetPrepositionCount() < 4 && control.AddPreposition(name) == 1) ++presetPackets;
            control.Prepositions().ClearCurrent();
            if (control.GotoPreposition(3, name) == 1) ++presetPackets;
            control.GetPrepositionName(0, name, sizeof(name));
        }
    });
    motion.join();
    presets.join();
    // A sentinel behind every queued move: a focus/iris stop (code 9) that neither thread sends.
    // The stream keeps its order, so once it arrived every earlier packet did.
    ASSERT_TRUE(control.Comm()->StopIrisChanging(nullptr));
    bool sentinelSeen = false;
    for (int round = 0; round < 400 && !sentinelSeen; ++round) {
        const auto received = sim.Camera().RotorPackets();
        for (const auto& packet : received) sentinelSeen = sentinelSeen || packet.code == 9;
        if (!sentinelSeen && !sim.Camera().WaitForRotorPackets(received.size() + 1, ptztest::kWaitMs)) break;
    }
    ASSERT_TRUE(sentinelSeen);
    const auto packets = sim.Camera().RotorPackets();
    size_t presetSeen = 0;
    for (const auto& packet : packets) {
        ASSERT_TRUE(packet.valid) << "interleaved writes would break packet boundaries";
        ASSERT_TRUE(packet.code == 1 || packet.code == 3 || packet.code == 5 || packet.code == 6 || packet.code == 9)
            << packet.code;
        if (packet.code == 5 || packet.code == 6) ++presetSeen;
    }
    EXPECT_EQ(static_cast<size_t>(presetPackets.load()), presetSeen);
    EXPECT_GT(moves.load(), 0);
    EXPECT_EQ(4, control.GetPrepositionCount());
}

}  // namespace
