// KaMsUtil: the utility library. Include this for all of it.
#pragma once

#include "KaMsUtilApi.h"
#include "KaString.h"
#include "KaText.h"
