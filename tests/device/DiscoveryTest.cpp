// Finding the camcorder through the driver's class enumerator and unit
// collections, registered as in-process classes of the test's apartment:
// which unit is chosen, what is asked of the driver, and what is let go.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "tests/device/DeviceTestSupport.h"
#include "zelto/bridge/PluginFunction.h"

using namespace devtest;

namespace {

class DiscoveryTest : public DeviceTestBase {
protected:
  void TearDown() override {
    device.reset();
    classes.reset();  // revoked while COM is still up
    DeviceTestBase::TearDown();
  }
  // Deletes the last device, then asks the factory for a new one. A test
  // whose fakes live in its body deletes the device before it ends.
  bool Discover() {
    device.reset();
    device.reset(ZeltoVideoDeviceFactory::GetZeltoVideoDevice());
    return device != nullptr;
  }

  std::unique_ptr<RegisteredClasses> classes = std::make_unique<RegisteredClasses>();
  std::unique_ptr<ZeltoVideoDevice> device;
};

TEST_F(DiscoveryTest, ModelPrefixMustMatchExactlyAndInCase) {
  FakeDriver wrongCase, tooShort, exact, longer;
  FakeUnit a(L"hxq-zl10", &wrongCase), b(L"HXQ-Z", &tooShort), c(L"HXQ-ZL", &exact), d(L"HXQ-ZL99", &longer);
  ASSERT_TRUE(classes->Register({&a, &b, &c, &d}));
  ASSERT_TRUE(Discover());
  EXPECT_EQ(exact.Refs(), 1) << "the device holds the exact match's smart control";
  EXPECT_EQ(wrongCase.Refs() + tooShort.Refs() + longer.Refs(), 0);
  // The stream types asked for, in order.
  const std::vector<GUID>& asked = classes->enumerator.askedTypes;
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_TRUE(IsEqualGUID(asked[0], STREAMTYPE_VIDEOSYSTEM0) && IsEqualGUID(asked[1], STREAMTYPE_VIDEOSYSTEM1));
  // Every unit, the chosen one included, has been let go; so has the enumerator.
  EXPECT_EQ(a.Refs() + b.Refs() + c.Refs() + d.Refs(), 0);
  EXPECT_EQ(classes->enumerator.Refs(), 0);
  device.reset();
  EXPECT_EQ(exact.Refs(), 0);

  // A model that continues the prefix matches too.
  FakeUnit continued(L"HXQ-ZL2000", &longer);
  ASSERT_TRUE(classes->Register({&continued}));
  ASSERT_TRUE(Discover());
  EXPECT_EQ(longer.Refs(), 1);
  device.reset();  // before the fakes it is bound to go out of scope
}

// Classes are searched in the order the enumerator returns them; a class
// that cannot be made or cannot enumerate is skipped, and a unit whose
// model cannot be read ends the search of its class only.
TEST_F(DiscoveryTest, FirstMatchInReturnedClassOrderWinsAndBrokenClassesAreSkipped) {
  FakeDriver inA, inB, laterInB;
  FakeUnit a(L"HXQ-ZL1", &inA), b(L"HXQ-ZL2", &inB), c(L"HXQ-ZL3", &laterInB), broken(L"HXQ-ZL4", &inB);
  classes->enumerator.classes = {kClassMissing, kClassB, kClassA};
  auto bound = [&] { return std::vector<long>{inA.Refs(), inB.Refs(), laterInB.Refs()}; };

  ASSERT_TRUE(classes->Register({&a}, {&b, &c}));
  ASSERT_TRUE(Discover());
  EXPECT_EQ(bound(), (std::vector<long>{0, 1, 0}));
  EXPECT_EQ(c.Refs(), 0) << "units after the match are not fetched or are released";

  ASSERT_TRUE(classes->Register({&a}, {&broken, &b}));
  broken.propertiesAvailable = false;
  ASSERT_TRUE(Discover());
  EXPECT_EQ(bound(), (std::vector<long>{1, 0, 0})) << "the match behind the unreadable unit is not examined";
  EXPECT_EQ(broken.Refs(), 0);

  broken.propertiesAvailable = true;
  broken.propertyResult = E_FAIL;
  ASSERT_TRUE(Discover());
  EXPECT_EQ(bound(), (std::vector<long>{1, 0, 0})) << "a model read that fails ends the class too";

  ASSERT_TRUE(classes->Register({&a}, {&b}));
  classes->collectionB->enumResult = E_FAIL;
  ASSERT_TRUE(Discover());
  EXPECT_EQ(bound(), (std::vector<long>{1, 0, 0}));
  device.reset();  // before the fakes it is bound to go out of scope
}

TEST_F(DiscoveryTest, NothingFoundYieldsNullAndAFailedClassListThrows) {
  EXPECT_FALSE(Discover()) << "no enumerator at all";
  FakeDriver driver;
  FakeUnit other(L"ABC-123", &driver);
  ASSERT_TRUE(classes->Register({&other}));
  EXPECT_FALSE(Discover());
  classes->enumerator.classes = {};
  EXPECT_FALSE(Discover());
  EXPECT_EQ(other.Refs() + driver.Refs(), 0);

  classes->enumerator.result = E_FAIL;
  try {
    ZeltoVideoDeviceFactory::GetZeltoVideoDevice();
    FAIL() << "no exception";
  } catch (const std::bad_alloc& error) {
    EXPECT_STREQ(error.what(), "bad allocation");
  }
  EXPECT_EQ(classes->enumerator.Refs(), 0) << "the enumerator is released while the exception unwinds";
  // So does a stream-type list that cannot be allocated.
  classes->enumerator.result = S_OK;
  zelto::platform::FailNthTaskMemAlloc(1);
  EXPECT_THROW(ZeltoVideoDeviceFactory::GetZeltoVideoDevice(), std::bad_alloc);
  zelto::platform::FailNthTaskMemAlloc(0);
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
