// The key attribute of a numbered settings entry: the number as "%d" in a 10-character buffer, so a
// key holds at most 9 characters (longer numbers are cut, as the files have always had them).
#pragma once

#include <cstdio>
#include <string>

namespace ovled {

inline std::string SettingsKey(int number)
{
    char buffer[10];
    std::snprintf(buffer, sizeof buffer, "%d", number);
    return buffer;
}

} // namespace ovled
