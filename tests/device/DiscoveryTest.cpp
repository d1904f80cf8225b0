// Finding the camcorder through the driver's class enumerator and unit
// collections, registered as in-process classes of the test's apartment.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "tests/device/DeviceTestSupport.h"
#include "zelto/bridge/PluginFunction.h"

using namespace devtest;

namespace {

// Two driver classes of the test's own.
constexpr CLSID kClassA = {0x7A11CE00, 0x1F01, 0x11D6, {0xA4, 0xE5, 0x00, 0xE0, 0x29, 0x21, 0xEA, 0x01}};
constexpr CLSID kClassB = {0x7A11CE00, 0x1F01, 0x11D6, {0xA4, 0xE5, 0x00, 0xE0, 0x29, 0x21, 0xEA, 0x02}};
constexpr CLSID kClassMissing = {0x7A11CE00, 0x1F01, 0x11D6, {0xA4, 0xE5, 0x00, 0xE0, 0x29, 0x21, 0xEA, 0x03}};

class DiscoveryTest : public DeviceTestBase {
protected:
  // Registers the enumerator and one collection per class; units are bound
  // to the drivers given.
  void Register(std::vector<FakeUnit*> unitsA, std::vector<FakeUnit*> unitsB) {
    Unregister();
    collectionA = std::make_unique<FakeUnitCollection>(std::move(unitsA));
    collectionB = std::make_unique<FakeUnitCollection>(std::move(unitsB));
    enumeratorRegistration = std::make_unique<ClassRegistration>(CLSID_DriverClassEnumerator,
                                                                 static_cast<IDriverClassEnumerator*>(&enumerator));
    registrationA = std::make_unique<ClassRegistration>(kClassA, static_cast<IUnitCollection*>(collectionA.get()));
    registrationB = std::make_unique<ClassRegistration>(kClassB, static_cast<IUnitCollection*>(collectionB.get()));
    ASSERT_TRUE(enumeratorRegistration->Ok() && registrationA->Ok() && registrationB->Ok());
  }

  void Unregister() {
    registrationA.reset();
    registrationB.reset();
    enumeratorRegistration.reset();
  }

  void TearDown() override {
    Unregister();
    DeviceTestBase::TearDown();
  }

  FakeClassEnumerator enumerator;
  std::unique_ptr<FakeUnitCollection> collectionA, collectionB;
  std::unique_ptr<ClassRegistration> enumeratorRegistration, registrationA, registrationB;
};

TEST_F(DiscoveryTest, ModelPrefixMustMatchExactlyAndInCase) {
  FakeDriver wrongCase, tooShort, exact, longer;
  FakeUnit a(L"hxq-zl10", &wrongCase), b(L"HXQ-Z", &tooShort), c(L"HXQ-ZL", &exact), d(L"HXQ-ZL99", &longer);
  enumerator.classes = {kClassA};
  Register({&a, &b, &c, &d}, {});

  std::unique_ptr<ZeltoVideoDevice> device(ZeltoVideoDeviceFactory::GetZeltoVideoDevice());
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(exact.Refs(), 1) << "the device holds the exact match's smart control";
  EXPECT_EQ(wrongCase.Refs() + tooShort.Refs() + longer.Refs(), 0);
  // The stream types asked for, in order.
  ASSERT_EQ(enumerator.askedTypes.size(), 2u);
  EXPECT_TRUE(IsEqualGUID(enumerator.askedTypes[0], STREAMTYPE_VIDEOSYSTEM0));
  EXPECT_TRUE(IsEqualGUID(enumerator.askedTypes[1], STREAMTYPE_VIDEOSYSTEM1));
  // Every unit, the chosen one included, has been let go; so has the enumerator.
  EXPECT_EQ(a.Refs() + b.Refs() + c.Refs() + d.Refs(), 0);
  device.reset();
  EXPECT_EQ(exact.Refs(), 0);
  EXPECT_EQ(enumerator.Refs(), 0);

  FakeUnit continued(L"HXQ-ZL2000", &longer);
  Register({&continued}, {});
  device.reset(ZeltoVideoDeviceFactory::GetZeltoVideoDevice());
  EXPECT_NE(device, nullptr);
  EXPECT_EQ(longer.Refs(), 1);
}

TEST_F(DiscoveryTest, FirstMatchInReturnedClassOrderWins) {
  FakeDriver first, second, third;
  FakeUnit a(L"HXQ-ZL1", &first), b(L"HXQ-ZL2", &second), c(L"HXQ-ZL3", &third);
  enumerator.classes = {kClassMissing, kClassB, kClassA};  // a class that cannot be made is skipped
  Register({&a}, {&b, &c});

  std::unique_ptr<ZeltoVideoDevice> device(ZeltoVideoDeviceFactory::GetZeltoVideoDevice());
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(second.Refs(), 1);
  EXPECT_EQ(first.Refs() + third.Refs(), 0);
  EXPECT_EQ(c.Refs(), 0) << "units after the match are not fetched or are released";
}

TEST_F(DiscoveryTest, UnreadablePropertiesEndTheirClassOnly) {
  FakeDriver hidden, later;
  FakeUnit broken(L"HXQ-ZL1", &hidden), hiddenMatch(L"HXQ-ZL2", &hidden), laterMatch(L"HXQ-ZL3", &later);
  broken.propertiesAvailable = false;
  enumerator.classes = {kClassA, kClassB};
  Register({&broken, &hiddenMatch}, {&laterMatch});

  std::unique_ptr<ZeltoVideoDevice> device(ZeltoVideoDeviceFactory::GetZeltoVideoDevice());
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(later.Refs(), 1);
  EXPECT_EQ(hidden.Refs(), 0) << "the rest of the broken unit's class is not examined";
  EXPECT_EQ(broken.Refs(), 0);

  // The same with a property read that fails, and a class that cannot enumerate.
  device.reset();
  broken.propertiesAvailable = true;
  broken.propertyResult = E_FAIL;
  device.reset(ZeltoVideoDeviceFactory::GetZeltoVideoDevice());
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(hidden.Refs(), 0);
  device.reset();
  broken.propertyResult = S_OK;
  collectionA->enumResult = E_FAIL;
  device.reset(ZeltoVideoDeviceFactory::GetZeltoVideoDevice());
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(later.Refs(), 1);
}

TEST_F(DiscoveryTest, NothingFoundYieldsNullWithoutException) {
  // No enumerator at all.
  EXPECT_EQ(ZeltoVideoDeviceFactory::GetZeltoVideoDevice(), nullptr);

  FakeDriver driver;
  FakeUnit other(L"ABC-123", &driver);
  enumerator.classes = {};
  Register({&other}, {});
  EXPECT_EQ(ZeltoVideoDeviceFactory::GetZeltoVideoDevice(), nullptr);
  enumerator.classes = {kClassA};
  EXPECT_EQ(ZeltoVideoDeviceFactory::GetZeltoVideoDevice(), nullptr);
  EXPECT_EQ(other.Refs() + driver.Refs(), 0);
}

TEST_F(DiscoveryTest, FailedClassListRaisesBadAllocation) {
  enumerator.result = E_FAIL;
  Register({}, {});
  try {
    ZeltoVideoDeviceFactory::GetZeltoVideoDevice();
    FAIL() << "no exception";
  } catch (const std::bad_alloc& error) {
    EXPECT_STREQ(error.what(), "bad allocation");
  }
  EXPECT_EQ(enumerator.Refs(), 0) << "the enumerator is released while the exception unwinds";

  // So does a stream-type list that cannot be allocated.
  enumerator.result = S_OK;
  zelto::platform::FailNthTaskMemAlloc(1);
  EXPECT_THROW(ZeltoVideoDeviceFactory::GetZeltoVideoDevice(), std::bad_alloc);
  zelto::platform::FailNthTaskMemAlloc(0);
}

TEST_F(DiscoveryTest, EveryCallBuildsAnIndependentDeviceAndBindFailureYieldsNull) {
  FakeDriver driver;
  FakeUnit unit(L"HXQ-ZL7", &driver);
  enumerator.classes = {kClassA};
  Register({&unit}, {});
  std::unique_ptr<ZeltoVideoDevice> one(ZeltoVideoDeviceFactory::GetZeltoVideoDevice());
  std::unique_ptr<ZeltoVideoDevice> two(ZeltoVideoDeviceFactory::GetZeltoVideoDevice());
  ASSERT_NE(one, nullptr);
  ASSERT_NE(two, nullptr);
  EXPECT_NE(one.get(), two.get());
  EXPECT_EQ(driver.Refs(), 2);
  one.reset();
  two.reset();

  unit.driver = nullptr;  // the bind fails
  EXPECT_EQ(ZeltoVideoDeviceFactory::GetZeltoVideoDevice(), nullptr);
  EXPECT_EQ(unit.Refs(), 0);
}

TEST(PluginFunctionTest, FullListRefusesAnotherGuidAndStaysAsItWas) {
  PluginFunction list(2);
  list.SetFunction(STREAMTYPE_VIDEOSYSTEM0);
  list.SetFunction(STREAMTYPE_VIDEOSYSTEM1);
  try {
    list.SetFunction(CLSID_DriverClassEnumerator);
    FAIL() << "a third GUID was taken";
  } catch (const std::out_of_range& error) {
    EXPECT_STREQ(error.what(), "PluginFunction::SetFunction");
  }
  ASSERT_EQ(list.GetCount(), 2u);
  EXPECT_TRUE(IsEqualGUID(list.GetArray()[1], STREAMTYPE_VIDEOSYSTEM1));
}

}  // namespace
