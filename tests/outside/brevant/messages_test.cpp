// SPDX-License-Identifier: MIT
#include <brevant/simsdk.h>

#include <gtest/gtest.h>
