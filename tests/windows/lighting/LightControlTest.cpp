#include "lighting/win32/LightControl.h"
#include "lighting/LightingManager.h"
#include "platform/win32/Unique.h"
#include "tests/support/FakeDevices.h"
#include "tests/windows/support/ModeByIndexCalls.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace ovled::win32 {
namespace {

using ovled::LightingManager;
using ovled::LightingSettings;
using ::testing::IsEmpty;

// Counts the module locks that objects and the factory take.
class CountingModule final : public IComServerModule {
public:
    CountingModule() : m_previous(SetCurrentModule(this)) {}
    ~CountingModule() override { SetCurrentModule(m_previous); }
    long AddLock() noexcept override { return ++locks; }
    long ReleaseLock() noexcept override { return --locks; }
    std::atomic<long> locks{0};

private:
    IComServerModule* m_previous;
};

// An outer object for aggregation: answers IUnknown itself and counts its references.
class OuterUnknown final : public IUnknown {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override
    {
        ++queries;
        if (riid == IID_IUnknown) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return ++references; }
    STDMETHODIMP_(ULONG) Release() noexcept override { return --references; }
    ULONG references = 1;
    int queries = 0;
};

class LightControlTest : public ::testing::Test {
protected:
    LightControlTest() = default;

    ComPtr<ILightControl> Create()
    {
        ComPtr<ILightControl> control;
        EXPECT_EQ(LightControlClassFactory()->CreateInstance(nullptr, IID_ILightControl, control.put_void()), S_OK);
        return control;
    }

    ScopedComInit m_com;
    CountingModule m_module;
    test::FakeLightingRoot m_root{2};
    test::FakeBoard& m_board = m_root.Board();
    LightingSettings& m_settings = m_root.Settings();
    LightingManager& m_manager = m_root.Manager();
};

TEST_F(LightControlTest, TheFactoryRefusesANullResultAndAggregationOfAnythingButIUnknown)
{
    IClassFactory* factory = LightControlClassFactory();
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_ILightControl, nullptr), E_POINTER);

    OuterUnknown outer;
    void* result = &outer; // must be cleared
    EXPECT_EQ(factory->CreateInstance(&outer, IID_ILightControl, &result), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(result, nullptr);

    result = &outer;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &result), E_NOINTERFACE);
    EXPECT_EQ(result, nullptr);
    EXPECT_EQ(m_module.locks, 0) << "the instance that could not be handed out is gone";
}

TEST_F(LightControlTest, EveryInstanceHoldsOneModuleLockAndLockServerTakesOne)
{
    {
        auto first = Create();
        auto second = Create();
        EXPECT_EQ(m_module.locks, 2);
    }
    EXPECT_EQ(m_module.locks, 0);

    EXPECT_EQ(LightControlClassFactory()->LockServer(TRUE), S_OK);
    EXPECT_EQ(m_module.locks, 1);
    EXPECT_EQ(LightControlClassFactory()->LockServer(FALSE), S_OK);
    EXPECT_EQ(m_module.locks, 0);
}

TEST_F(LightControlTest, AnAggregatedInstanceDelegatesItsInterfacesToTheOuterObject)
{
    OuterUnknown outer;
    ComPtr<IUnknown> inner;
    ASSERT_EQ(LightControlClassFactory()->CreateInstance(&outer, IID_IUnknown, inner.put_void()), S_OK);
    ASSERT_NE(static_cast<IUnknown*>(inner.get()), static_cast<IUnknown*>(&outer));

    ComPtr<ILightControl> control;
    ASSERT_EQ(inner->QueryInterface(IID_ILightControl, control.put_void()), S_OK);
    EXPECT_EQ(outer.references, 2u) << "the interface's reference belongs to the outer object";

    ComPtr<IUnknown> identity;
    ASSERT_EQ(control->QueryInterface(IID_IUnknown, identity.put_void()), S_OK);
    EXPECT_EQ(identity.get(), static_cast<IUnknown*>(&outer));
    EXPECT_EQ(outer.queries, 1);

    identity.reset();
    control.reset();
    EXPECT_EQ(outer.references, 1u);
    EXPECT_EQ(m_module.locks, 1);
    inner.reset();
    EXPECT_EQ(m_module.locks, 0) << "releasing the inner unknown destroys the object";
}

TEST_F(LightControlTest, OneInstanceCanBeReferencedFromManyThreadsAtOnce)
{
    auto control = Create();
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([raw = control.get()] {
            for (int i = 0; i < 20000; ++i) {
                raw->AddRef();
                raw->Release();
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(control->AddRef(), 2u);
    EXPECT_EQ(control->Release(), 1u);
    control.reset();
    EXPECT_EQ(m_module.locks, 0);
}

TEST_F(LightControlTest, ModeByIndexReadsAndSetsTheManagersModes)
{
    auto control = Create();
    EXPECT_EQ(control->put_ModeByIndex(0, 2), S_OK);
    EXPECT_EQ(m_manager.GetModeByIndex(0), 2);
    EXPECT_TRUE(m_manager.IsThermalRunning());

    EXPECT_EQ(control->put_ModeByIndex(-1, 1), S_OK);
    SHORT mode = -7;
    EXPECT_EQ(control->get_ModeByIndex(-1, &mode), S_OK);
    EXPECT_EQ(mode, 1);
    EXPECT_EQ(m_settings.GetMode(), 1);
    EXPECT_TRUE(m_settings.IsEnabled());

    mode = -7;
    EXPECT_EQ(control->get_ModeByIndex(5, &mode), S_OK) << "beyond the two strips";
    EXPECT_EQ(mode, 0);

    EXPECT_EQ(control->put_ModeByIndex(-3, 0), S_OK);
    EXPECT_EQ(m_settings.GetExternalEnable(0), 0);
    EXPECT_EQ(control->put_ModeByIndex(9, 1), S_OK) << "an index the manager ignores still answers S_OK";
}

TEST_F(LightControlTest, ReadingAModeIntoNoVariableIsRefused)
{
    auto control = Create();
    EXPECT_EQ(control->get_ModeByIndex(-1, nullptr), E_POINTER);
}

TEST_F(LightControlTest, TheOtherMembersAnswerSuccessAndTouchNothing)
{
    auto control = Create();
    m_board.Calls().Clear();
    ULONG colour = 0xDEADBEEF;
    SHORT mode = 77;
    SHORT checked = 88;
    EXPECT_EQ(control->get_Color(&colour), S_OK);
    EXPECT_EQ(control->put_Color(0x00FF00), S_OK);
    EXPECT_EQ(control->get_Mode(&mode), S_OK);
    EXPECT_EQ(control->put_Mode(2), S_OK);
    EXPECT_EQ(control->Start(), S_OK);
    EXPECT_EQ(control->Stop(), S_OK);
    EXPECT_EQ(control->get_Checked(&checked), S_OK);
    EXPECT_EQ(control->put_Checked(1), S_OK);
    EXPECT_EQ(colour, 0xDEADBEEFu);
    EXPECT_EQ(mode, 77);
    EXPECT_EQ(checked, 88);
    EXPECT_THAT(m_board.Calls().Entries(), IsEmpty());
    EXPECT_EQ(m_settings.GetMode(), 0);
}

TEST_F(LightControlTest, LateBoundCallsReachModeByIndexThroughItsDispatchId)
{
    auto control = Create();
    UINT count = 0;
    EXPECT_EQ(control->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    ComPtr<ITypeInfo> info;
    EXPECT_EQ(control->GetTypeInfo(1, 0, info.put()), DISP_E_BADINDEX);

    const wchar_t* names[] = {L"Color", L"Mode", L"Start", L"Stop", L"Checked", L"ModeByIndex"};
    for (DISPID expected = 1; expected <= 6; ++expected) {
        LPOLESTR name = const_cast<LPOLESTR>(names[expected - 1]);
        DISPID id = 0;
        EXPECT_EQ(control->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id), S_OK) << names[expected - 1];
        EXPECT_EQ(id, expected) << names[expected - 1];
    }

    EXPECT_EQ(test::PutModeByIndexLate(*control.get(), 0, 2), S_OK);
    EXPECT_EQ(m_manager.GetModeByIndex(0), 2);

    UniqueVariant result;
    EXPECT_EQ(test::GetModeByIndexLate(*control.get(), 0, result), S_OK);
    EXPECT_EQ(result->vt, VT_I2);
    EXPECT_EQ(result->iVal, 2);
}

// An object a hostile caller passes as an argument: coercing it to a number would call it (and its thread
// would wait in the service for as long as the caller liked).
class CountingObject final : public IDispatch {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override
    {
        ++calls;
        *ppv = riid == IID_IUnknown || riid == IID_IDispatch ? this : nullptr;
        return *ppv ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return 2; }
    STDMETHODIMP_(ULONG) Release() noexcept override { return 1; }
    STDMETHODIMP GetTypeInfoCount(UINT*) noexcept override { return ++calls, E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) noexcept override { return ++calls, E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) noexcept override { return ++calls, E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*, UINT*) noexcept override
    {
        ++calls;
        result->vt = VT_I2;
        result->iVal = 1;
        return S_OK;
    }
    int calls = 0;
};

TEST_F(LightControlTest, LateBoundArgumentsMustBeNumbersAndNothingElseIsCoercedOrCalled)
{
    auto control = Create();
    CountingObject object;
    UniqueBstr one(SysAllocString(L"1"));
    SHORT zero = 0;
    VARIANT number; // held by reference, as VBScript passes a variable
    VariantInit(&number);
    number.vt = VT_I4;
    number.lVal = 1;
    VARIANT objectInside;
    VariantInit(&objectInside);
    objectInside.vt = VT_DISPATCH;
    objectInside.pdispVal = &object;
    SAFEARRAY* array = SafeArrayCreateVector(VT_I4, 0, 1);
    const auto index = [](VARTYPE type, auto set) {
        VARIANT v;
        VariantInit(&v);
        v.vt = type;
        set(v);
        return v;
    };
    const struct {
        const char* what;
        VARIANT index;
        HRESULT expected;
    } rows[] = {
        {"a string of a number", index(VT_BSTR, [&](VARIANT& v) { v.bstrVal = one.get(); }), S_OK},
        {"a double", index(VT_R8, [](VARIANT& v) { v.dblVal = 1.0; }), S_OK},
        {"a short by reference", index(VT_BYREF | VT_I2, [&](VARIANT& v) { v.piVal = &zero; }), S_OK},
        {"a variant holding a number", index(VT_BYREF | VT_VARIANT, [&](VARIANT& v) { v.pvarVal = &number; }), S_OK},
        {"an object", index(VT_DISPATCH, [&](VARIANT& v) { v.pdispVal = &object; }), DISP_E_TYPEMISMATCH},
        {"an unknown", index(VT_UNKNOWN, [&](VARIANT& v) { v.punkVal = &object; }), DISP_E_TYPEMISMATCH},
        {"a variant holding an object", index(VT_BYREF | VT_VARIANT, [&](VARIANT& v) { v.pvarVal = &objectInside; }),
         DISP_E_TYPEMISMATCH},
        {"an array", index(VT_ARRAY | VT_I4, [&](VARIANT& v) { v.parray = array; }), DISP_E_TYPEMISMATCH},
        {"nothing", index(VT_EMPTY, [](VARIANT&) {}), DISP_E_TYPEMISMATCH},
    };
    for (const auto& row : rows) {
        VARIANT arguments[2] = {index(VT_I4, [](VARIANT& v) { v.lVal = 2; }), row.index}; // value, then index
        DISPID named = DISPID_PROPERTYPUT;
        DISPPARAMS put{arguments, &named, 2, 1};
        UINT argumentError = 99;
        EXPECT_EQ(control->Invoke(test::kModeByIndexId, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &put,
                                  nullptr, nullptr, &argumentError),
                  row.expected)
            << row.what;
        EXPECT_EQ(argumentError, row.expected == S_OK ? 99u : 1u) << row.what << ": the index is refused";
    }
    EXPECT_EQ(object.calls, 0) << "the service never calls back into an object it was passed";
    EXPECT_EQ(m_manager.GetModeByIndex(1), 2);
    EXPECT_EQ(m_manager.GetModeByIndex(0), 2);
    SafeArrayDestroy(array);
}

TEST(TypeLibrary, TheExecutableCarriesTheLibraryWithItsIdentifiersAndInterfaceFlags)
{
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(GetLightControlTypeInfo(info.put()), S_OK);
    ComPtr<ITypeLib> library;
    UINT index = 0;
    ASSERT_EQ(info->GetContainingTypeLib(library.put(), &index), S_OK);

    TLIBATTR* libraryAttributes = nullptr;
    ASSERT_EQ(library->GetLibAttr(&libraryAttributes), S_OK);
    EXPECT_TRUE(IsEqualGUID(libraryAttributes->guid, LIBID_OvLedServiceLib));
    EXPECT_EQ(libraryAttributes->wMajorVerNum, 1);
    EXPECT_EQ(libraryAttributes->wMinorVerNum, 0);
    library->ReleaseTLibAttr(libraryAttributes);
    UniqueBstr name;
    ASSERT_EQ(library->GetDocumentation(-1, name.put(), nullptr, nullptr, nullptr), S_OK);
    EXPECT_STREQ(name.get(), L"OvLedServiceLib");

    // A dual interface shows as a dispatch interface whose vtable part is the interface itself.
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
    EXPECT_TRUE(IsEqualGUID(attributes->guid, IID_ILightControl));
    EXPECT_EQ(attributes->typekind, TKIND_DISPATCH);
    EXPECT_EQ(attributes->wTypeFlags & TYPEFLAG_FDUAL, TYPEFLAG_FDUAL);
    info->ReleaseTypeAttr(attributes);

    HREFTYPE vtablePart = 0;
    ASSERT_EQ(info->GetRefTypeOfImplType(static_cast<UINT>(-1), &vtablePart), S_OK);
    ComPtr<ITypeInfo> interfaceInfo;
    ASSERT_EQ(info->GetRefTypeInfo(vtablePart, interfaceInfo.put()), S_OK);
    ASSERT_EQ(interfaceInfo->GetTypeAttr(&attributes), S_OK);
    EXPECT_EQ(attributes->typekind, TKIND_INTERFACE);
    EXPECT_EQ(attributes->cFuncs, 10) << "Color, Mode, Start, Stop, Checked and ModeByIndex with their puts";
    const WORD flags = TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FOLEAUTOMATION;
    EXPECT_EQ(attributes->wTypeFlags & flags, flags);
    interfaceInfo->ReleaseTypeAttr(attributes);

    ComPtr<ITypeInfo> coclass;
    ASSERT_EQ(library->GetTypeInfoOfGuid(CLSID_LightControl, coclass.put()), S_OK);
    UniqueBstr className;
    ASSERT_EQ(coclass->GetDocumentation(MEMBERID_NIL, className.put(), nullptr, nullptr, nullptr), S_OK);
    EXPECT_STREQ(className.get(), L"LightControl");
}

} // namespace
} // namespace ovled::win32
