// The names and identifiers by which clients, the registry and the service control manager know the
// program. Fixed: clients and earlier installations depend on them.
#pragma once

#include <string_view>

namespace ovled::service {

inline constexpr std::wstring_view kAppId = L"{FAFF09A7-D8EC-4433-8397-431DB616F5BE}";
inline constexpr std::wstring_view kLightControlClsid = L"{361DC8C5-F8D3-4CA5-856B-946A98360025}";
inline constexpr std::wstring_view kLightControlIid = L"{F5DA78B4-04C9-4C49-81C8-AAB9BC3189D4}";
inline constexpr std::wstring_view kTypeLibraryId = L"{EDBE5A7E-664F-4DD7-9025-6A8DFED813CF}";
inline constexpr std::wstring_view kTypeLibraryVersion = L"1.0";
inline constexpr std::wstring_view kProgId = L"OvLedService.LightControl.1";
inline constexpr std::wstring_view kVersionIndependentProgId = L"OvLedService.LightControl";
inline constexpr std::wstring_view kClassDescription = L"LightControl Class";
// The Lighting class: the lighting's status and settings.
inline constexpr std::wstring_view kLightingClsid = L"{167BDFBB-EDAA-4730-94CB-5656E2365050}";
inline constexpr std::wstring_view kLightingProgId = L"OvLedService.Lighting.1";
inline constexpr std::wstring_view kLightingVersionIndependentProgId = L"OvLedService.Lighting";
inline constexpr std::wstring_view kLightingDescription = L"Lighting Class";

// The service name is string resource 100 of the executable; this is its text, used where no
// resource can be read.
inline constexpr unsigned kServiceNameResource = 100;
inline constexpr std::wstring_view kServiceName = L"Orvex LED Control Service";
inline constexpr std::wstring_view kServiceDescription = L"Provides LED Control Function for Orvex Motherboard.";
inline constexpr std::wstring_view kServiceDependency = L"RPCSS";

// The AppID value whose presence makes a start without switches run as the service.
inline constexpr std::wstring_view kLocalServiceValue = L"LocalService";

} // namespace ovled::service
