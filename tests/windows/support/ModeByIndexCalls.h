// Late-bound calls of ModeByIndex (DISPID 6) as an automation client makes them: the index as VT_I2,
// the new value as VT_I4 (a script's integer), the value as the named property-put argument.
#pragma once

#include "platform/win32/Unique.h"

#include <windows.h>

namespace ovled::test {

inline constexpr DISPID kModeByIndexId = 6;

inline HRESULT PutModeByIndexLate(IDispatch& dispatch, SHORT index, LONG value)
{
    VARIANT arguments[2]; // reverse order: the value, then the index
    VariantInit(&arguments[0]);
    VariantInit(&arguments[1]);
    arguments[0].vt = VT_I4;
    arguments[0].lVal = value;
    arguments[1].vt = VT_I2;
    arguments[1].iVal = index;
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS put{arguments, &named, 2, 1};
    return dispatch.Invoke(kModeByIndexId, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &put, nullptr,
                           nullptr, nullptr);
}

inline HRESULT GetModeByIndexLate(IDispatch& dispatch, SHORT index, win32::UniqueVariant& result)
{
    VARIANT argument;
    VariantInit(&argument);
    argument.vt = VT_I2;
    argument.iVal = index;
    DISPPARAMS get{&argument, nullptr, 1, 0};
    return dispatch.Invoke(kModeByIndexId, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &get, result.put(),
                           nullptr, nullptr);
}

} // namespace ovled::test
