// SPDX-License-Identifier: MIT
// Everything of the control framework in one include.
#pragma once

#include "cmdtarget.h"
#include "objectfactory.h"
#include "olecontrol.h"
#include "olereg.h"
