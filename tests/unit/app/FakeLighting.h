// A fake service for the app's tests: the Lighting class's state in memory, with the rules the IDL states
// (a put of -2/-3 switches a group off, storing a mode switches it on, every change but the colours moves
// the change count), every call counted, failures injected per call, and a gate that holds calls.
// The connector hands out connections to it and says what the service control manager would.
#pragma once

#include "app/LightingService.h"

#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace ovled::app::test {

struct FakeBoard {
    std::vector<std::int32_t> modes{2, 1, 0};      // the onboard zone, then the strips
    std::vector<std::int32_t> colours{-1, -1, -1}; // DeviceColour
    bool onboardOn = true;
    bool stripsOn = true;
    std::int32_t brightness = 100;
    std::map<OffRule, bool> rules;
    std::wstring nightStart = L"23:00";
    std::wstring nightEnd = L"07:00";
    std::int32_t lightsOffMinutes = -1; // -1: not off
    std::int32_t changeCount = 1;
    std::vector<std::wstring> calls;     // every call's name, in order
    HResult failNext = kSOk;             // the answer of the next call, once
    std::vector<std::wstring> failCalls; // calls that answer `failWith`
    HResult failWith = kSOk;

    // While closed, calls wait at the gate (a service that does not answer); `entered` counts arrivals.
    std::mutex mutex;
    std::condition_variable changed;
    bool gateOpen = true;
    int entered = 0;
    void SetGate(bool open);
    void WaitUntilEntered(int count);
};

class FakeService final : public ILightingService {
public:
    explicit FakeService(FakeBoard& board) : m_board(board) {}
    HResult DeviceCount(std::int32_t& count) override;
    HResult DeviceKind(int device, std::int32_t& kind) override;
    HResult DeviceName(int device, std::wstring& name) override;
    HResult DeviceMode(int device, std::int32_t& mode) override;
    HResult DeviceOn(int device, bool& on) override;
    HResult DeviceColour(int device, std::int32_t& colour) override;
    HResult Brightness(std::int32_t& percent) override;
    HResult SetBrightness(std::int32_t percent) override;
    HResult Rule(OffRule rule, bool& on) override;
    HResult SetRule(OffRule rule, bool on) override;
    HResult NightTime(bool end, std::wstring& time) override;
    HResult SetNightTime(bool end, const std::wstring& time) override;
    HResult LightsOff(std::int32_t minutes) override;
    HResult LightsOn() override;
    HResult LightsAreOn(bool& on) override;
    HResult OffReasons(std::int32_t& rules) override;
    HResult ChangeCount(std::int32_t& count) override;
    HResult SetModeByIndex(int index, int mode) override;

private:
    HResult Enter(const wchar_t* call, int device = kOnboardDevice);
    template <class Apply>
    HResult Change(const wchar_t* call, Apply apply);
    FakeBoard& m_board;
};

class FakeConnector final : public ILightingConnector {
public:
    explicit FakeConnector(FakeBoard& board) : m_board(board) {}
    void ThreadStarted() noexcept override {}
    void ThreadEnding() noexcept override {}
    ServiceState QueryServiceState() noexcept override
    {
        ++queries;
        return state;
    }
    HResult Connect(std::unique_ptr<ILightingService>& service) noexcept override;

    ServiceState state = ServiceState::Running;
    HResult connectResult = kSOk;
    int connects = 0;
    int queries = 0;

private:
    FakeBoard& m_board;
};

} // namespace ovled::app::test
