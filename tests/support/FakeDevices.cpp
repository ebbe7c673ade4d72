#include "tests/support/FakeDevices.h"

#include <cstdio>
#include <thread>

namespace ovled::test {

void Journal::Add(std::string entry)
{
    {
        std::lock_guard lock(m_mutex);
        m_entries.push_back(entry);
    }
    if (m_onAdd)
        m_onAdd(entry);
}

std::vector<std::string> Journal::Entries()
{
    std::lock_guard lock(m_mutex);
    return m_entries;
}

std::vector<std::string> Journal::Matching(const std::string& prefix)
{
    std::lock_guard lock(m_mutex);
    std::vector<std::string> found;
    for (const auto& entry : m_entries) {
        if (entry.rfind(prefix, 0) == 0)
            found.push_back(entry);
    }
    return found;
}

void Journal::Clear()
{
    std::lock_guard lock(m_mutex);
    m_entries.clear();
}

bool FakeLed::IsOn()
{
    m_journal.Add(m_name + ": IsOn");
    return m_on;
}

bool FakeLed::EnterMusicMode()
{
    m_journal.Add(m_name + ": EnterMusicMode");
    return true;
}

bool FakeLed::EnterThermalMode()
{
    m_journal.Add(m_name + ": EnterThermalMode");
    return true;
}

bool FakeLed::LeaveHostControl()
{
    m_journal.Add(m_name + ": LeaveHostControl");
    return true;
}

bool FakeLed::ShowColour(Rgb colour, ColourSource source)
{
    char text[8];
    std::snprintf(text, sizeof text, "%02x%02x%02x", colour.red, colour.green, colour.blue);
    m_journal.Add(m_name + ": ShowColour " + (source == ColourSource::Music ? "music " : "thermal ") + text);
    int left = refusals.load();
    while (left > 0 && !refusals.compare_exchange_weak(left, left - 1)) {
    }
    return left == 0;
}

bool FakeLed::SetEffect1(std::uint32_t colour)
{
    m_journal.Add(m_name + ": SetEffect1 " + std::to_string(colour));
    return true;
}

void FakeMusicDriver::EnableDevice(int deviceIndex)
{
    m_journal.Add("music: Enable " + std::to_string(deviceIndex));
}

void FakeMusicDriver::DisableDevice(int deviceIndex)
{
    m_journal.Add("music: Disable " + std::to_string(deviceIndex));
}

void FakeMusicDriver::Start()
{
    m_journal.Add("music: Start");
}

void FakeMusicDriver::Stop()
{
    m_journal.Add("music: Stop");
}

std::unique_ptr<ILedDevice> FakeBoard::CreateOnboardController()
{
    return std::make_unique<FakeLed>(m_journal, "onboard", m_onboardOn);
}

std::unique_ptr<ILedDevice> FakeBoard::CreateStripController(int stripIndex)
{
    return std::make_unique<FakeLed>(m_journal, "strip " + std::to_string(stripIndex), m_stripsOn);
}

std::unique_ptr<IMusicDriver> FakeBoard::CreateMusicDriver(std::unique_ptr<IColourOutput> output)
{
    auto driver = std::make_unique<FakeMusicDriver>(m_journal, std::move(output));
    m_driver = driver.get();
    return driver;
}

std::optional<int> FakeBoard::ReadCelsius()
{
    std::chrono::microseconds cost;
    std::optional<int> celsius;
    {
        std::lock_guard lock(m_mutex);
        cost = m_readCost;
        celsius = m_celsius;
    }
    if (cost.count() > 0)
        std::this_thread::sleep_for(cost);
    return celsius;
}

void FakeBoard::SetReadCost(std::chrono::microseconds cost)
{
    std::lock_guard lock(m_mutex);
    m_readCost = cost;
}

void FakeBoard::SetCelsius(std::optional<int> celsius)
{
    std::lock_guard lock(m_mutex);
    m_celsius = celsius;
}

FakeLightingRoot::FakeLightingRoot(int strips)
    : m_board(strips), m_settings(m_folder / LightingSettings::kFileName), m_config(m_folder / LedConfigFile::kFileName),
      m_manager(m_settings, m_board, m_board, m_clock, LightingManager::Timing{})
{
    Install();
}

FakeLightingRoot::~FakeLightingRoot()
{
    Uninstall();
}

} // namespace ovled::test
