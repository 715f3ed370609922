// SPDX-License-Identifier: MIT
// Everything of the object services in one include.
#pragma once

#include "automation.h"
#include "guid.h"
#include "hresult.h"
#include "types.h"
#include "unknown.h"
