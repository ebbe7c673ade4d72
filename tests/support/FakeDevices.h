// Fakes of the lighting manager's device contract: each device and the music driver record every
// call in one shared, thread-safe journal ("strip 1: ShowColour thermal ffbf00"), so tests can check what
// happened and in which order. FakeLightingRoot is a composition root over them.
#pragma once

#include "lighting/DeviceContract.h"
#include "lighting/LedConfigFile.h"
#include "lighting/LightingManager.h"
#include "lighting/LightingRoot.h"
#include "lighting/LightingSettings.h"
#include "platform/ProcessRoot.h"
#include "tests/support/SteppedClock.h"
#include "tests/support/TempFolder.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace ovled::test {

class Journal {
public:
    void Add(std::string entry);
    // Called with each entry after it is added, outside the journal's lock (so it may act on the
    // devices); set before the devices are used.
    void OnAdd(std::function<void(const std::string&)> hook) { m_onAdd = std::move(hook); }
    std::vector<std::string> Entries();
    // Entries that start with `prefix`.
    std::vector<std::string> Matching(const std::string& prefix);
    void Clear();

private:
    std::mutex m_mutex;
    std::vector<std::string> m_entries;
    std::function<void(const std::string&)> m_onAdd;
};

class FakeLed final : public ILedDevice {
public:
    FakeLed(Journal& journal, std::string name, bool on) : m_journal(journal), m_name(std::move(name)), m_on(on) {}
    bool IsOn() override;
    bool EnterMusicMode() override;
    bool EnterThermalMode() override;
    bool LeaveHostControl() override;
    // Journalled as "<name>: ShowColour <music|thermal> <rrggbb>"; false for the next `refusals` calls.
    bool ShowColour(Rgb colour, ColourSource source) override;
    std::atomic<int> refusals{0};
    bool SetEffect1(std::uint32_t colour) override;

private:
    Journal& m_journal;
    const std::string m_name;
    const bool m_on;
};

// Keeps the output it is given, so a test can play a tick through it as the colour thread would.
class FakeMusicDriver final : public IMusicDriver {
public:
    FakeMusicDriver(Journal& journal, std::unique_ptr<IColourOutput> output)
        : m_journal(journal), m_output(std::move(output))
    {
    }
    void EnableDevice(int deviceIndex) override;
    void DisableDevice(int deviceIndex) override;
    void Start() override;
    void Stop() override;
    IColourOutput& Output() { return *m_output; }

private:
    Journal& m_journal;
    const std::unique_ptr<IColourOutput> m_output;
};

class FakeBoard final : public IDeviceFactory, public ITemperatureSource {
public:
    explicit FakeBoard(int strips, bool onboardOn = true, bool stripsOn = true)
        : m_strips(strips), m_onboardOn(onboardOn), m_stripsOn(stripsOn)
    {
    }
    std::unique_ptr<ILedDevice> CreateOnboardController() override;
    std::unique_ptr<ILedDevice> CreateStripController(int stripIndex) override;
    int GetExternalStripCount() override { return m_strips; }
    std::unique_ptr<IMusicDriver> CreateMusicDriver(std::unique_ptr<IColourOutput> output) override;
    // The last driver made (owned by its manager).
    FakeMusicDriver* Driver() { return m_driver; }
    std::optional<int> ReadCelsius() override;

    void SetCelsius(std::optional<int> celsius);
    // Makes every temperature read take this long, as a firmware read through the bridge does.
    void SetReadCost(std::chrono::microseconds cost);
    Journal& Calls() { return m_journal; }

private:
    Journal m_journal;
    const int m_strips;
    const bool m_onboardOn;
    const bool m_stripsOn;
    std::mutex m_mutex;
    std::optional<int> m_celsius = 45;
    std::chrono::microseconds m_readCost{0};
    FakeMusicDriver* m_driver = nullptr;
};

// The lighting's root over a fake board: both settings files in a temporary folder and a manager over the
// fake devices and a stepped clock, built with the root. The process's root for its life.
class FakeLightingRoot final : public platform::ProcessRoot, public ILightingRoot {
public:
    explicit FakeLightingRoot(int strips);
    ~FakeLightingRoot() override;

    LightingSettings& Settings() noexcept override { return m_settings; }
    LedConfigFile& LedConfig() noexcept override { return m_config; }
    IDeviceFactory& Devices() noexcept override { return m_board; }
    LightingManager& Manager() override { return m_manager; }
    platform::IThreadSessions& Sessions() noexcept override { return platform::NoThreadSessions(); }
    FakeBoard& Board() noexcept { return m_board; }

private:
    TempFolder m_folder;
    SteppedClock m_clock;
    FakeBoard m_board;
    LightingSettings m_settings;
    LedConfigFile m_config;
    LightingManager m_manager;
};

} // namespace ovled::test
