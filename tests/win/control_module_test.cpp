// The control module as COM sees it: class object, unload rule, object
// interfaces, safety options.
#include <gtest/gtest.h>

#include "tests/win/control_test_support.h"

namespace qz {
namespace {

using namespace qz::test;

const CLSID kOtherClass = {0x0a1b2c3d, 0x1111, 0x2222, {0x33, 0x33, 0x44, 0x44, 0x55, 0x55, 0x66, 0x66}};

class ControlModuleTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
  void SetUp() override {
    ASSERT_TRUE(ControlModule::Get().ok()) << "Tessacom1.dll or an export is missing";
    ASSERT_EQ(Module().CanUnloadNow(), S_OK) << "an earlier test left the module locked";
  }
  static const ControlModule& Module() { return ControlModule::Get(); }
};

TEST_F(ControlModuleTest, ClassObjectOnlyForOurClassAndAlwaysTheSame) {
  void* out = reinterpret_cast<void*>(0x1234);  // must be cleared
  EXPECT_EQ(Module().GetClassObject(kOtherClass, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(Module().GetClassObject(CLSID_Tessacontrol1, IID_IClassFactory, nullptr), E_POINTER);

  out = reinterpret_cast<void*>(0x1234);
  EXPECT_EQ(Module().GetClassObject(CLSID_Tessacontrol1, IID_IDispatch, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);

  IClassFactory* first = nullptr;
  IUnknown* second = nullptr;
  ASSERT_EQ(Module().GetClassObject(CLSID_Tessacontrol1, IID_IClassFactory, reinterpret_cast<void**>(&first)), S_OK);
  ASSERT_EQ(Module().GetClassObject(CLSID_Tessacontrol1, IID_IUnknown, reinterpret_cast<void**>(&second)), S_OK);
  EXPECT_EQ(static_cast<IUnknown*>(first), second);
  first->Release();
  second->Release();
}

TEST_F(ControlModuleTest, AggregationIsRefusedEvenForIUnknown) {
  IClassFactory* factory = nullptr;
  ASSERT_EQ(Module().GetClassObject(CLSID_Tessacontrol1, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
  IUnknown* outer = factory;  // any object will do as the would-be outer
  for (REFIID iid : {IID_IUnknown, IID_ITessacontrol1}) {
    void* out = reinterpret_cast<void*>(0x1234);
    EXPECT_EQ(factory->CreateInstance(outer, iid, &out), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(out, nullptr);
  }
  void* out = reinterpret_cast<void*>(0x1234);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  factory->Release();
  EXPECT_EQ(Module().CanUnloadNow(), S_OK) << "a refused object must not keep the module";
}

TEST_F(ControlModuleTest, UnloadWaitsForObjectsLocksAndHeldClassObject) {
  IClassFactory* factory = nullptr;
  ASSERT_EQ(Module().GetClassObject(CLSID_Tessacontrol1, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
  EXPECT_EQ(Module().CanUnloadNow(), S_FALSE) << "the class object is held";

  IUnknown* object = nullptr;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&object)), S_OK);
  factory->LockServer(TRUE);
  factory->Release();
  EXPECT_EQ(Module().CanUnloadNow(), S_FALSE) << "object and lock";

  object->Release();
  EXPECT_EQ(Module().CanUnloadNow(), S_FALSE) << "the server lock";

  ASSERT_EQ(Module().GetClassObject(CLSID_Tessacontrol1, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
  factory->LockServer(FALSE);
  EXPECT_EQ(Module().CanUnloadNow(), S_FALSE) << "the class object again";
  factory->Release();
  EXPECT_EQ(Module().CanUnloadNow(), S_OK);
}

TEST_F(ControlModuleTest, InterfacesOfTheObject) {
  ITessacontrol1* control = NewControl();
  ASSERT_NE(control, nullptr);
  struct Case {
    const char* id;
    REFIID iid;
    bool sameAsControl;
  } cases[] = {
      {"IUnknown", IID_IUnknown, true},          {"IDispatch", IID_IDispatch, true},
      {"ITessacontrol1", IID_ITessacontrol1, true}, {"ISupportErrorInfo", IID_ISupportErrorInfo, false},
      {"IObjectSafety", IID_IObjectSafety, false}, {"IObjectWithSite", IID_IObjectWithSite, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    IUnknown* got = nullptr;
    ASSERT_EQ(control->QueryInterface(c.iid, reinterpret_cast<void**>(&got)), S_OK);
    EXPECT_EQ(got == static_cast<IUnknown*>(control), c.sameAsControl);
    got->Release();
  }
  void* none = reinterpret_cast<void*>(0x1234);
  EXPECT_EQ(control->QueryInterface(IID_IPersistStream, &none), E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);

  ISupportErrorInfo* errors = nullptr;
  ASSERT_EQ(control->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&errors)), S_OK);
  EXPECT_EQ(errors->InterfaceSupportsErrorInfo(IID_ITessacontrol1), S_OK);
  EXPECT_EQ(errors->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
  EXPECT_EQ(errors->InterfaceSupportsErrorInfo(IID_IUnknown), S_FALSE);
  errors->Release();

  short init = 0;
  EXPECT_EQ(control->get_Init(&init), S_OK);
  EXPECT_EQ(init, 1);
  EXPECT_EQ(control->get_Init(&init), S_OK);
  EXPECT_EQ(init, 1);
  EXPECT_EQ(control->Release(), 0u);
}

TEST_F(ControlModuleTest, SafetyOptions) {
  ITessacontrol1* control = NewControl();
  ASSERT_NE(control, nullptr);
  IObjectSafety* safety = nullptr;
  ASSERT_EQ(control->QueryInterface(IID_IObjectSafety, reinterpret_cast<void**>(&safety)), S_OK);

  DWORD supported = 0xFF, enabled = 0xFF;
  EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IDispatch, nullptr, &enabled), E_POINTER);
  EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, nullptr), E_POINTER);
  EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled), S_OK);
  EXPECT_EQ(supported, 0x3u);
  EXPECT_EQ(enabled, 0u) << "a new object starts with no options";

  EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IDispatch, 0x1, 0x1), S_OK);
  EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled), S_OK);
  EXPECT_EQ(supported, 0x3u);
  EXPECT_EQ(enabled, 0x1u);

  // Only the masked options change.
  EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_ITessacontrol1, 0x2, 0x3), S_OK);
  EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_ITessacontrol1, &supported, &enabled), S_OK);
  EXPECT_EQ(enabled, 0x3u);
  EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IDispatch, 0x1, 0x0), S_OK);
  EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled), S_OK);
  EXPECT_EQ(enabled, 0x2u);

  EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IDispatch, 0x4, 0x4), E_FAIL);
  EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IDispatch, 0x5, 0x1), E_FAIL);
  EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IPersistStream, 0x1, 0x1), E_NOINTERFACE);
  supported = enabled = 0xFF;
  EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IPersistStream, &supported, &enabled), E_NOINTERFACE);
  EXPECT_EQ(supported, 0u);
  EXPECT_EQ(enabled, 0u);
  EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled), S_OK);
  EXPECT_EQ(enabled, 0x2u) << "failed calls change nothing";

  safety->Release();
  control->Release();
}

}  // namespace
}  // namespace qz
