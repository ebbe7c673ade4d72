// Conversion of a double to int the way the x86 conversion instruction does it: toward zero, and the
// "integer indefinite" value INT_MIN for NaN and for values outside the int range. The band edges and
// the colour bytes are defined by that conversion, so it is spelled out instead of left undefined.
// Pure function; any thread.
#pragma once

#include <climits>

namespace ovled {

constexpr int TruncateToInt(double value) noexcept
{
    if (!(value > -2147483649.0 && value < 2147483648.0))
        return INT_MIN;
    return static_cast<int>(value);
}

} // namespace ovled
