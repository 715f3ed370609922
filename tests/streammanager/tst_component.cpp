// SPDX-License-Identifier: MIT
// The factory, the component's result codes in each phase of its life, and its teardown.
#include "streamfixture.h"

#include <functional>
#include <string>

using namespace streamtest;
using ::testing::_;
using ::testing::StrictMock;

namespace {

TEST(RealStreamFactory, HandsOutOneComponentPerFactory)
{
    DCM::CRealStreamInstance first;
    DCM::IRealStreamComponent *component = first.CreateRealStreamInstance();
    ASSERT_NE(component, nullptr);
    EXPECT_EQ(first.CreateRealStreamInstance(), component);

    DCM::CRealStreamInstance second;
    DCM::IRealStreamComponent *other = second.CreateRealStreamInstance();
    ASSERT_NE(other, nullptr);
    EXPECT_NE(other, component);

    // Independent engines: initialising one leaves the other untouched.
    KvSdk::SimSdk sdk;
    EXPECT_EQ(component->Init(&sdk), 0);
    EXPECT_EQ(component->IsReady(), 0);
    EXPECT_EQ(other->IsReady(), DCM::kRealErrParam);
    EXPECT_EQ(other->OpenVideo("1$1", 0, kTarget, 0, 0, -1, -1), DCM::kRealErrGeneral);
    component->UnInit();
}

TEST(RealStreamFactory, DestroyedBeforeUseDestroysNothing)
{
    auto factory = std::make_unique<DCM::CRealStreamInstance>();
    DCM::CRealStreamInstance copy(*factory);
    factory.reset();
    // The copy of an empty factory makes a component of its own.
    EXPECT_NE(copy.CreateRealStreamInstance(), nullptr);
}

// Copies share the component; it lives until the last factory that holds it goes, and is
// destroyed exactly once (the sanitizer builds catch a second destruction or a leak).
TEST(RealStreamFactory, CopiesShareTheComponentAndDestroyItOnce)
{
    KvSdk::SimSdk sdk;
    auto original = std::make_unique<DCM::CRealStreamInstance>();
    DCM::IRealStreamComponent *component = original->CreateRealStreamInstance();
    ASSERT_EQ(component->Init(&sdk), 0);
    EXPECT_EQ(sdk.CallbackCount(), 1);

    auto copied = std::make_unique<DCM::CRealStreamInstance>(*original);
    EXPECT_EQ(copied->CreateRealStreamInstance(), component);

    DCM::CRealStreamInstance assigned;
    DCM::IRealStreamComponent *own = assigned.CreateRealStreamInstance();
    ASSERT_NE(own, component);
    ASSERT_EQ(own->Init(&sdk), 0);
    EXPECT_EQ(sdk.CallbackCount(), 2);
    assigned = *copied; // lets go of its own component, which was the only holder
    EXPECT_EQ(sdk.CallbackCount(), 1);
    EXPECT_EQ(assigned.CreateRealStreamInstance(), component);
    DCM::CRealStreamInstance &same = assigned;
    assigned = same;
    EXPECT_EQ(assigned.CreateRealStreamInstance(), component);

    original.reset();
    copied.reset();
    EXPECT_EQ(component->IsReady(), 0) << "the last holder keeps the component alive";
    EXPECT_GE(component->OpenVideo("1$1", 0, kTarget, 0, 0, -1, -1), 0);

    assigned = DCM::CRealStreamInstance();
    EXPECT_EQ(sdk.CallbackCount(), 0) << "the last holder destroyed the component";
}

// A host that forgets UnInit: once the factory is gone nothing may call into the freed engine,
// neither the SDK callback nor the timer nor the queue thread.
TEST(RealStreamFactory, DestructionWithoutUnInitLeavesNothingBehind)
{
    qrl::DTestClock::Enable(kStartMs);
    KvSdk::SimSdk sdk;
    StrictMock<MockListener> listener;
    {
        DCM::CRealStreamInstance factory;
        DCM::IRealStreamComponent *component = factory.CreateRealStreamInstance();
        ASSERT_EQ(component->Init(&sdk), 0);
        ASSERT_EQ(component->SetReconnectInterval(100), 0);
        ASSERT_EQ(component->AddListener(&listener, 0), 0);
        sdk.ScriptOpenResults({4, 5});
        ASSERT_EQ(component->OpenVideo("7$1", 0, kTarget, 0, 0, -1, -1), 4);
        ASSERT_EQ(component->OpenVideo("7$2", 0, kTarget, 0, 0, -1, -1), 5);
        // Events and expiries still in flight when the factory goes must not reach anyone.
        EXPECT_CALL(listener, OnOpenVideo(_, _, _)).Times(::testing::AtMost(1));
        sdk.EmitOpenResult(5, -1);
    }
    EXPECT_EQ(sdk.CallbackCount(), 0);
    sdk.EmitFirstFrame(4);
    sdk.EmitOpenResult(4, -1);
    sdk.WaitIdle();
    qrl::DTestClock::Advance(1000);
    qrl::DTestClock::Disable();
}

// What every operation answers before Init, while initialised and after UnInit.
struct PhaseRow
{
    const char *name;
    std::function<int(DCM::IRealStreamComponent *, DCM::IRealStreamListener *)> call;
    int beforeInit;
    int initialised;
    int afterUnInit;
    bool callsSdk; // while initialised
};

void PrintTo(const PhaseRow &row, std::ostream *out)
{
    *out << row.name;
}

constexpr int kAnyId = 1 << 30; // stands for "a stream id of 0 or more"

const PhaseRow kPhaseRows[] = {
    {"OpenVideo",
     [](auto *c, auto *) { return c->OpenVideo("1000$0$5", 0, kTarget, kContext, 0, -1, -1); },
     DCM::kRealErrGeneral, kAnyId, DCM::kRealErrGeneral, true},
    {"OpenVideoNullSource",
     [](auto *c, auto *) { return c->OpenVideo(nullptr, 0, kTarget, kContext, 0, -1, -1); },
     DCM::kRealErrGeneral, DCM::kRealErrGeneral, DCM::kRealErrGeneral, false},
    {"OpenVideoEmptySource",
     [](auto *c, auto *) { return c->OpenVideo("", 0, kTarget, kContext, 0, -1, -1); },
     DCM::kRealErrGeneral, DCM::kRealErrGeneral, DCM::kRealErrGeneral, false},
    {"OpenVideoZeroTarget",
     [](auto *c, auto *) { return c->OpenVideo("1000$5", 0, 0, kContext, 0, -1, -1); },
     DCM::kRealErrGeneral, DCM::kRealErrGeneral, DCM::kRealErrGeneral, false},
    {"CloseVideo", [](auto *c, auto *) { return c->CloseVideo(3); }, DCM::kRealErrGeneral, 0,
     DCM::kRealErrGeneral, true},
    {"CloseVideoNegativeId", [](auto *c, auto *) { return c->CloseVideo(-1); },
     DCM::kRealErrGeneral, DCM::kRealErrParam, DCM::kRealErrGeneral, false},
    {"ReopenVideo",
     [](auto *c, auto *) { return c->ReopenVideo(3, "1000$5", 0, kTarget, kContext, 0); },
     DCM::kRealErrGeneral, kAnyId, DCM::kRealErrGeneral, true},
    {"ReopenVideoNegativeId",
     [](auto *c, auto *) { return c->ReopenVideo(-2, "1000$5", 0, kTarget, kContext, 0); },
     DCM::kRealErrGeneral, DCM::kRealErrParam, DCM::kRealErrGeneral, false},
    {"IsReady", [](auto *c, auto *) { return c->IsReady(); }, DCM::kRealErrParam, 0,
     DCM::kRealErrParam, false},
    {"AddListener", [](auto *c, auto *l) { return c->AddListener(l, 0); }, 0, 0, 0, false},
    {"AddNullListener", [](auto *c, auto *) { return c->AddListener(nullptr, 0); },
     DCM::kRealErrGeneral, DCM::kRealErrGeneral, DCM::kRealErrGeneral, false},
    {"RemoveUnknownListener", [](auto *c, auto *l) { return c->RemoveListener(l, 0); },
     DCM::kRealErrGeneral, DCM::kRealErrGeneral, DCM::kRealErrGeneral, false},
    {"RemoveNullListener", [](auto *c, auto *) { return c->RemoveListener(nullptr, kOwner); },
     DCM::kRealErrGeneral, DCM::kRealErrGeneral, DCM::kRealErrGeneral, false},
    {"SetConnectParamsLowest", [](auto *c, auto *) { return c->SetConnectParams(0, 1); }, 0, 0, 0,
     false},
    {"SetConnectParamsHighest", [](auto *c, auto *) { return c->SetConnectParams(1, 3); }, 0, 0, 0,
     false},
    {"SetConnectParamsFirstTooHigh", [](auto *c, auto *) { return c->SetConnectParams(2, 1); },
     DCM::kRealErrParam, DCM::kRealErrParam, DCM::kRealErrParam, false},
    {"SetConnectParamsFirstNegative", [](auto *c, auto *) { return c->SetConnectParams(-1, 2); },
     DCM::kRealErrParam, DCM::kRealErrParam, DCM::kRealErrParam, false},
    {"SetConnectParamsSecondTooHigh", [](auto *c, auto *) { return c->SetConnectParams(0, 4); },
     DCM::kRealErrParam, DCM::kRealErrParam, DCM::kRealErrParam, false},
    {"SetConnectParamsSecondZero", [](auto *c, auto *) { return c->SetConnectParams(1, 0); },
     DCM::kRealErrParam, DCM::kRealErrParam, DCM::kRealErrParam, false},
    {"SetReconnectIntervalZero", [](auto *c, auto *) { return c->SetReconnectInterval(0); },
     DCM::kRealErrParam, DCM::kRealErrParam, DCM::kRealErrParam, false},
    {"SetReconnectIntervalNegative", [](auto *c, auto *) { return c->SetReconnectInterval(-5); },
     DCM::kRealErrParam, DCM::kRealErrParam, DCM::kRealErrParam, false},
    {"SetReconnectInterval", [](auto *c, auto *) { return c->SetReconnectInterval(2000); }, 0, 0, 0,
     false},
    {"InitNullControl", [](auto *c, auto *) { return c->Init(nullptr); }, DCM::kRealErrGeneral,
     DCM::kRealErrGeneral, DCM::kRealErrGeneral, false},
    {"UnInit", [](auto *c, auto *) { return c->UnInit(); }, 0, 0, 0, true},
};

class ComponentPhases : public ::testing::TestWithParam<PhaseRow>
{
protected:
    void expectResult(int got, int expected)
    {
        if (expected == kAnyId)
            EXPECT_GE(got, 0);
        else
            EXPECT_EQ(got, expected);
    }

    KvSdk::SimSdk sdk;
    DCM::CRealStreamInstance factory;
    DCM::IRealStreamComponent *component = factory.CreateRealStreamInstance();
    StrictMock<MockListener> listener;
};

TEST_P(ComponentPhases, BeforeInit)
{
    expectResult(GetParam().call(component, &listener), GetParam().beforeInit);
    EXPECT_TRUE(sdk.Calls().empty());
}

TEST_P(ComponentPhases, Initialised)
{
    ASSERT_EQ(component->Init(&sdk), 0);
    sdk.ClearCalls();
    expectResult(GetParam().call(component, &listener), GetParam().initialised);
    EXPECT_EQ(sdk.Calls().empty(), !GetParam().callsSdk);
    component->UnInit();
}

TEST_P(ComponentPhases, AfterUnInit)
{
    ASSERT_EQ(component->Init(&sdk), 0);
    ASSERT_EQ(component->UnInit(), 0);
    sdk.ClearCalls();
    expectResult(GetParam().call(component, &listener), GetParam().afterUnInit);
    EXPECT_TRUE(sdk.Calls().empty());
}

INSTANTIATE_TEST_SUITE_P(Operations, ComponentPhases, ::testing::ValuesIn(kPhaseRows),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(RealStreamInit, RegistersOnceAndUnInitUnregisters)
{
    KvSdk::SimSdk sdk;
    DCM::CRealStreamInstance factory;
    DCM::IRealStreamComponent *component = factory.CreateRealStreamInstance();
    ASSERT_EQ(component->Init(&sdk), 0);
    std::vector<KvSdk::SimCall> calls = sdk.Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].kind, KvSdk::SimCall::Unregister);
    EXPECT_EQ(calls[1].kind, KvSdk::SimCall::Register);
    EXPECT_EQ(calls[0].callback, calls[1].callback);
    EXPECT_EQ(calls[0].user, calls[1].user);
    EXPECT_NE(calls[1].user, nullptr);
    EXPECT_EQ(sdk.CallbackCount(), 1);

    sdk.ClearCalls();
    ASSERT_EQ(component->UnInit(), 0);
    calls = sdk.Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].kind, KvSdk::SimCall::Unregister);
    EXPECT_EQ(sdk.CallbackCount(), 0);
}

TEST(RealStreamInit, TakesEffectOnceInTheLifeOfAComponent)
{
    KvSdk::SimSdk first;
    KvSdk::SimSdk second;
    DCM::CRealStreamInstance factory;
    DCM::IRealStreamComponent *component = factory.CreateRealStreamInstance();

    // A null control is refused before the engine is reached, so it does not use up Init.
    EXPECT_EQ(component->Init(nullptr), DCM::kRealErrGeneral);
    ASSERT_EQ(component->Init(&first), 0);
    EXPECT_EQ(component->Init(&second), 0);
    EXPECT_TRUE(second.Calls().empty());
    first.ClearCalls();
    EXPECT_GE(component->OpenVideo("3$1", 0, kTarget, 0, 0, -1, -1), 0);
    EXPECT_EQ(first.Calls().size(), 1u) << "the second Init changed nothing";

    ASSERT_EQ(component->UnInit(), 0);
    EXPECT_EQ(component->Init(&second), 0);
    EXPECT_EQ(component->IsReady(), DCM::kRealErrParam);
    EXPECT_EQ(component->OpenVideo("3$1", 0, kTarget, 0, 0, -1, -1), DCM::kRealErrGeneral);
    EXPECT_TRUE(second.Calls().empty());
}

TEST(RealStreamInit, WithoutLiveVideoModule)
{
    KvSdk::SimSdkOptions options;
    options.withRealModule = false;
    KvSdk::SimSdk bare(options);
    KvSdk::SimSdk full;
    DCM::CRealStreamInstance factory;
    DCM::IRealStreamComponent *component = factory.CreateRealStreamInstance();

    EXPECT_EQ(component->Init(&bare), DCM::kRealErrNoModule);
    EXPECT_EQ(component->IsReady(), DCM::kRealErrParam);
    EXPECT_EQ(component->OpenVideo("3$1", 0, kTarget, 0, 0, -1, -1), DCM::kRealErrGeneral);
    // The failed Init used up the one Init of this component.
    EXPECT_EQ(component->Init(&full), 0);
    EXPECT_EQ(component->IsReady(), DCM::kRealErrParam);
    EXPECT_TRUE(full.Calls().empty());
}

} // namespace
