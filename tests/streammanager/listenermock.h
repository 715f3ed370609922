// SPDX-License-Identifier: MIT
#pragma once

#include <varnex/realstream.h>

#include <gmock/gmock.h>

#include <cstdint>

class MockListener : public DCM::IRealStreamListener
{
public:
    virtual ~MockListener() = default;

    MOCK_METHOD(int, Reserved1, (), (override));
    MOCK_METHOD(int, OnOpenVideo, (int result, int id, std::intptr_t owner), (override));
    MOCK_METHOD(int, OnCloseVideo, (int result, int id, std::intptr_t owner), (override));
    MOCK_METHOD(int, Reserved4, (), (override));
    MOCK_METHOD(int, OnReconnect, (int result, int originalId, int newId, std::intptr_t owner),
                (override));
    MOCK_METHOD(int, OnFirstFrame, (int result, int id, std::intptr_t owner), (override));
    MOCK_METHOD(int, OnOpenDelay, (int id, std::intptr_t owner), (override));
    MOCK_METHOD(int, OnOpenTimeout, (int id, std::intptr_t owner), (override));
    MOCK_METHOD(int, OnOpenFailed, (int value, int id), (override));
};
