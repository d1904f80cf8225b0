// Discovery through the real CoCreateInstance path: which classes and units a
// configuration offers, and the failures a client must survive.
#include "tests/simulator/SimTestSupport.h"

using namespace zelto::sim;
using namespace sim_test;

namespace {

CLSID ClassId(BYTE n) { return zelto::driver::DriverGuid(static_cast<BYTE>(0x70 + n)); }

DriverClassConfig Class(BYTE n, std::vector<UnitConfig> units = {}) {
  DriverClassConfig c;
  c.clsid = ClassId(n);
  c.units = std::move(units);
  return c;
}

UnitConfig UnitWith(const wchar_t* model, const wchar_t* label = L"") {
  UnitConfig u;
  u.modelText = model;
  u.label = label;
  return u;
}

class Discovery : public ComTest {
 protected:
  void TearDown() override {
    driver.Unregister();
    EXPECT_EQ(driver.Audit().LiveReferences(), 0) << driver.Audit().Report();
    EXPECT_EQ(driver.Audit().OverReleases(), 0);
    ComTest::TearDown();
  }
  SimulatedDriver driver;
};

}  // namespace

TEST_F(Discovery, DefaultDriverOffersOneMatchingUnitThatBindsToTheCamcorder) {
  ASSERT_EQ(driver.Register(), S_OK);
  EXPECT_EQ(ListUnits(), (std::vector<std::wstring>{L"HXQ-ZL5"}));
  Ref<ISmartControl> control;
  ASSERT_EQ(BindFirstUnit(control.Out()), S_OK);
  Ref<IDeckControl> deck;
  ASSERT_EQ(control->QueryInterface(IID_IDeckControl, deck.OutVoid()), S_OK);
  DWORD state = 99;
  EXPECT_EQ(deck->GetStatus(DECK_STATUS_DECK_STATE, &state), S_OK);
  EXPECT_EQ(state, DECK_STATE_STOP);
  // One object answers for all its interfaces, with one identity.
  Ref<IUnknown> a, b, none;
  ASSERT_EQ(control->QueryInterface(IID_IUnknown, a.OutVoid()), S_OK);
  ASSERT_EQ(deck->QueryInterface(IID_IUnknown, b.OutVoid()), S_OK);
  EXPECT_EQ(a.p, b.p);
  Ref<IStreamReceive> receive;
  Ref<IUnknown> c;
  ASSERT_EQ(control->QueryInterface(IID_IStreamReceive, receive.OutVoid()), S_OK);
  ASSERT_EQ(receive->QueryInterface(IID_IUnknown, c.OutVoid()), S_OK);
  EXPECT_EQ(a.p, c.p);
  EXPECT_EQ(control->QueryInterface(zelto::driver::DriverGuid(0x99), none.OutVoid()), E_NOINTERFACE);
  EXPECT_EQ(none.p, nullptr);
  EXPECT_EQ(driver.Panel().BoundUnits(), (std::vector<std::wstring>{L"HXQ-ZL5"}));
}

TEST_F(Discovery, ConfigurationsShapeWhatAClientFinds) {
  // Classes come in configured order; a class that is not registered, has
  // no unit or cannot enumerate yields nothing; a unit whose properties
  // cannot be read ends its class.
  DriverConfig config;
  UnitConfig hidden = UnitWith(L"HXQ-ZL9");
  hidden.propertiesFail = true;
  config.classes = {Class(1, {UnitWith(L"HXQ-ZL1")}), Class(2), Class(3, {UnitWith(L"HXQ-ZL3")}),
                    Class(4, {UnitWith(L"hxq-zl5"), UnitWith(L"HXQ-Z"), hidden, UnitWith(L"never")}),
                    Class(5, {UnitWith(L"HXQ-ZL"), UnitWith(L"HXQ-ZL7")})};
  config.classes[0].registered = false;
  config.classes[2].enumFails = true;
  ASSERT_EQ(driver.Register(config), S_OK);
  EXPECT_EQ(ListUnits(), (std::vector<std::wstring>{L"hxq-zl5", L"HXQ-Z", L"?", L"HXQ-ZL", L"HXQ-ZL7"}));

  Ref<IUnitCollection> collection;
  EXPECT_EQ(CoCreateInstance(ClassId(1), nullptr, CLSCTX_INPROC_SERVER, IID_IUnitCollection, collection.OutVoid()),
            REGDB_E_CLASSNOTREG);
  ASSERT_EQ(CoCreateInstance(ClassId(3), nullptr, CLSCTX_INPROC_SERVER, IID_IUnitCollection, collection.OutVoid()),
            S_OK);
  IEnumUnits* units = reinterpret_cast<IEnumUnits*>(&config);  // a stale value the failure must clear
  EXPECT_EQ(collection->EnumUnits(&units), E_FAIL);
  EXPECT_EQ(units, nullptr);
  ASSERT_EQ(CoCreateInstance(ClassId(5), nullptr, CLSCTX_INPROC_SERVER, IID_IUnitCollection, collection.OutVoid()),
            S_OK);
  Ref<IUnknown> aggregated;
  EXPECT_EQ(CoCreateInstance(ClassId(5), reinterpret_cast<IUnknown*>(collection.p), CLSCTX_INPROC_SERVER,
                             IID_IUnknown, aggregated.OutVoid()),
            CLASS_E_NOAGGREGATION);
}

TEST_F(Discovery, StreamTypesSelectClassesAndTheListIsTaskMemory) {
  DriverConfig config;
  config.classes = {Class(1), Class(2), Class(3)};
  config.classes[0].streamTypes = {STREAMTYPE_VIDEOSYSTEM1};
  config.classes[1].streamTypes = {};
  ASSERT_EQ(driver.Register(config), S_OK);
  Ref<IDriverClassEnumerator> enumerator;
  ASSERT_EQ(CoCreateInstance(CLSID_DriverClassEnumerator, nullptr, CLSCTX_INPROC_SERVER, IID_IDriverClassEnumerator,
                             enumerator.OutVoid()),
            S_OK);
  const GUID both[] = {STREAMTYPE_VIDEOSYSTEM0, STREAMTYPE_VIDEOSYSTEM1};
  DRIVER_CLASS_LIST list{};
  ASSERT_EQ(enumerator->GetDriverClasses(1, both, &list), S_OK);
  ASSERT_EQ(list.count, 1u);
  EXPECT_TRUE(IsEqualGUID(list.classes[0], ClassId(3)));
  CoTaskMemFree(list.classes);
  const std::vector<CLSID> listed = DriverClasses();
  ASSERT_EQ(listed.size(), 2u);
  EXPECT_TRUE(IsEqualGUID(listed[0], ClassId(1)));
  EXPECT_TRUE(IsEqualGUID(listed[1], ClassId(3)));

  EXPECT_EQ(enumerator->GetDriverClasses(2, nullptr, &list), E_POINTER);
  EXPECT_EQ(enumerator->GetDriverClasses(2, both, nullptr), E_POINTER);
  zelto::platform::FailNthTaskMemAlloc(1);
  EXPECT_EQ(enumerator->GetDriverClasses(2, both, &list), E_OUTOFMEMORY);
  EXPECT_EQ(list.count, 0u);
  EXPECT_EQ(list.classes, nullptr);
  zelto::platform::FailNthTaskMemAlloc(0);
}

TEST_F(Discovery, WithoutTheEnumeratorOrAfterUnregisterNothingIsFound) {
  DriverConfig config;
  config.registerEnumerator = false;
  ASSERT_EQ(driver.Register(config), S_OK);
  EXPECT_TRUE(ListUnits().empty());
  ASSERT_EQ(driver.Unregister(), S_OK);
  ASSERT_EQ(driver.Register(), S_OK);
  EXPECT_EQ(ListUnits().size(), 1u);
  EXPECT_EQ(driver.Register(), CO_E_OBJISREG);
  ASSERT_EQ(driver.Unregister(), S_OK);
  EXPECT_TRUE(ListUnits().empty());
  DriverConfig twice;
  twice.classes = {Class(1), Class(1)};
  EXPECT_EQ(driver.Register(twice), E_INVALIDARG);
  EXPECT_FALSE(driver.Registered());
}

TEST_F(Discovery, EnumeratorHandsOutOneUnitAtATimeThenFalse) {
  DriverConfig config;
  config.classes = {Class(1, {UnitWith(L"HXQ-ZL1"), UnitWith(L"HXQ-ZL2"), UnitWith(L"HXQ-ZL3")})};
  ASSERT_EQ(driver.Register(config), S_OK);
  Ref<IEnumUnits> units;
  ASSERT_EQ(EnumUnitsOf(ClassId(1), units.Out()), S_OK);
  IUnitMoniker* batch[4] = {};
  ULONG fetched = 0;
  ASSERT_EQ(units->Next(1, batch, &fetched), S_OK);
  EXPECT_EQ(fetched, 1u);
  EXPECT_EQ(units->Next(4, batch + 1, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 2u);
  EXPECT_EQ(units->Next(1, batch + 3, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 0u);
  EXPECT_EQ(units->Next(2, batch, nullptr), E_POINTER) << "a count above one needs the fetched count";
  const WCHAR* text = nullptr;
  Ref<IUnitProperties> properties;
  ASSERT_EQ(batch[2]->QueryInterface(IID_IUnitProperties, properties.OutVoid()), S_OK);
  ASSERT_EQ(properties->GetStringProperty(L"UnitModelText", &text), S_OK);
  EXPECT_STREQ(text, L"HXQ-ZL3");
  EXPECT_EQ(properties->GetStringProperty(L"Vendor", &text), E_INVALIDARG);
  EXPECT_EQ(text, nullptr);
  EXPECT_EQ(properties->GetStringProperty(nullptr, &text), E_POINTER);
  properties.Reset();
  for (int i = 0; i < 3; ++i) batch[i]->Release();
  EXPECT_EQ(driver.Audit().Of(ObjectKind::Unit).liveObjects, 0);
  EXPECT_EQ(driver.Audit().Of(ObjectKind::Unit).created, 3);
}

TEST_F(Discovery, TwoMatchingUnitsInDifferentClassesBindToTheOneCamcorder) {
  DriverConfig config;
  UnitConfig broken = UnitWith(L"HXQ-ZL5", L"broken");
  broken.bindFails = true;
  config.classes = {Class(1, {UnitWith(L"HXQ-ZL5", L"first")}), Class(2, {UnitWith(L"HXQ-ZL5", L"second")}),
                    Class(3, {broken})};
  ASSERT_EQ(driver.Register(config), S_OK);
  const CLSID second = ClassId(2), third = ClassId(3);
  Ref<ISmartControl> one, two, none;
  ASSERT_EQ(BindFirstUnit(one.Out()), S_OK);
  ASSERT_EQ(BindFirstUnit(two.Out(), &second), S_OK);
  EXPECT_NE(one.p, two.p) << "each bind makes its own control object";
  EXPECT_EQ(BindFirstUnit(none.Out(), &third), E_FAIL);
  EXPECT_EQ(none.p, nullptr);
  EXPECT_EQ(driver.Panel().BoundUnits(), (std::vector<std::wstring>{L"first", L"second"}));
  // Both controls drive the one camcorder.
  Ref<IDeckControl> deck;
  ASSERT_EQ(two->QueryInterface(IID_IDeckControl, deck.OutVoid()), S_OK);
  ASSERT_EQ(deck->SendCommand(DECK_COMMAND_PLAY), S_OK);
  ASSERT_EQ(one->QueryInterface(IID_IDeckControl, deck.OutVoid()), S_OK);
  DWORD state = 0;
  ASSERT_EQ(deck->GetStatus(DECK_STATUS_DECK_STATE, &state), S_OK);
  EXPECT_EQ(state, DECK_STATE_PLAY);
}
