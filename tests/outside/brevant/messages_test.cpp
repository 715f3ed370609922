// SPDX-License-Identifier: MIT
#include <brevant/brevant.h>

#include <gtest/gtest.h>

#include <memory>

namespace {

using namespace KvSdk;

TEST(SdkMessagesTest, DefaultConstructionCarriesTheClassType)
{
    EXPECT_EQ(KVSDKCBMessage().type, 0);
    EXPECT_EQ(RealOpenVideoMsg().type, 12002);
    EXPECT_EQ(RealCloseVideoMsg().type, 12003);
    EXPECT_EQ(RealNotifyReceiveFirstFrameMsg().type, 12006);
    EXPECT_EQ(RealOpenFailedMsg().type, 12008);

    const RealOpenFailedMsg failed;
    EXPECT_EQ(failed.param, 0);
    EXPECT_EQ(failed.sequence, 0);
    EXPECT_EQ(failed.result, 0);
    EXPECT_EQ(failed.value, 0);
    EXPECT_EQ(failed.streamHandle, 0);
}

TEST(SdkMessagesTest, BaseCopyTakesTheFourBaseFields)
{
    RealCloseVideoMsg closed;
    closed.param = 11;
    closed.sequence = 12;
    closed.result = -13;
    closed.streamHandle = 0x700000005;

    // How a message of an unknown type is copied: construct with 0, 1, 0, 0, then assign.
    KVSDKCBMessage copy(0, 1, 0, 0);
    EXPECT_EQ(copy.param, 1);
    copy = closed;
    EXPECT_EQ(copy.type, 12003);
    EXPECT_EQ(copy.param, 11);
    EXPECT_EQ(copy.sequence, 12);
    EXPECT_EQ(copy.result, -13);

    const KVSDKCBMessage constructed(5, 6, 7, 8);
    const KVSDKCBMessage copied(constructed);
    EXPECT_EQ(copied.type, 5);
    EXPECT_EQ(copied.param, 6);
    EXPECT_EQ(copied.sequence, 7);
    EXPECT_EQ(copied.result, 8);
}

TEST(SdkMessagesTest, DerivedMessagesDieThroughTheBase)
{
    // The stream manager owns its copies through the base; ASan checks the virtual destructor.
    std::unique_ptr<KVSDKCBMessage> messages[] = {
        std::make_unique<RealOpenVideoMsg>(), std::make_unique<RealCloseVideoMsg>(),
        std::make_unique<RealNotifyReceiveFirstFrameMsg>(), std::make_unique<RealOpenFailedMsg>()};
    EXPECT_NE(dynamic_cast<RealOpenFailedMsg *>(messages[3].get()), nullptr);
    EXPECT_EQ(dynamic_cast<RealOpenFailedMsg *>(messages[2].get()), nullptr);
}

TEST(SdkFactoryTest, KeepsTheApplicationName)
{
    KVSDKFactory::SetAppName("Norvane");
    EXPECT_EQ(KVSDKFactory::AppName(), "Norvane");
    KVSDKFactory::SetAppName(std::string());
    EXPECT_EQ(KVSDKFactory::AppName(), "");
}

} // namespace
