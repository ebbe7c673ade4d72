#include "tools/LightControlClient.h"

namespace ovled::tools {
namespace {

using win32::ComPtr;
using win32::UniqueVariant;

constexpr DISPID kModeByIndex = 6;

class EarlyBound final : public LightControlClient {
public:
    explicit EarlyBound(ComPtr<ILightControl> control) : m_control(std::move(control)) {}
    HRESULT Get(short index, short& mode) override { return m_control->get_ModeByIndex(index, &mode); }
    HRESULT Set(short index, short mode) override { return m_control->put_ModeByIndex(index, mode); }
    IDispatch* Dispatch() noexcept override { return m_control.get(); }

private:
    ComPtr<ILightControl> m_control;
};

class LateBound final : public LightControlClient {
public:
    explicit LateBound(ComPtr<IDispatch> dispatch) : m_dispatch(std::move(dispatch)) {}

    HRESULT Get(short index, short& mode) override
    {
        VARIANT argument;
        VariantInit(&argument);
        argument.vt = VT_I2;
        argument.iVal = index;
        DISPPARAMS params{&argument, nullptr, 1, 0};
        UniqueVariant result;
        const HRESULT hr = m_dispatch->Invoke(kModeByIndex, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET,
                                              &params, result.get(), nullptr, nullptr);
        if (FAILED(hr))
            return hr;
        UniqueVariant converted;
        const HRESULT conversion = VariantChangeType(converted.get(), result.get(), 0, VT_I2);
        if (SUCCEEDED(conversion))
            mode = converted->iVal;
        return conversion;
    }

    HRESULT Set(short index, short mode) override
    {
        // Arguments go in reverse order; the new value is the named property-put argument.
        VARIANT arguments[2];
        VariantInit(&arguments[0]);
        VariantInit(&arguments[1]);
        arguments[0].vt = VT_I2;
        arguments[0].iVal = mode;
        arguments[1].vt = VT_I2;
        arguments[1].iVal = index;
        DISPID named = DISPID_PROPERTYPUT;
        DISPPARAMS params{arguments, &named, 2, 1};
        return m_dispatch->Invoke(kModeByIndex, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr,
                                  nullptr, nullptr);
    }
    IDispatch* Dispatch() noexcept override { return m_dispatch.get(); }

private:
    ComPtr<IDispatch> m_dispatch;
};

template <class Wrapper, class Interface>
HRESULT Connect(std::unique_ptr<LightControlClient>& client)
{
    ComPtr<Interface> object;
    const HRESULT result =
        CoCreateInstance(CLSID_LightControl, nullptr, CLSCTX_LOCAL_SERVER, __uuidof(Interface), object.put_void());
    if (SUCCEEDED(result))
        client = std::make_unique<Wrapper>(std::move(object));
    return result;
}

} // namespace

HRESULT ConnectLightControl(bool lateBound, std::unique_ptr<LightControlClient>& client)
{
    return lateBound ? Connect<LateBound, IDispatch>(client) : Connect<EarlyBound, ILightControl>(client);
}

} // namespace ovled::tools
