// KaMsUtil: the utility library. Include this for all of it.
#pragma once

#include "KaEncode.h"
#include "KaFile.h"
#include "KaIdent.h"
#include "KaMsUtilApi.h"
#include "KaObList.h"
#include "KaScramble.h"
#include "KaString.h"
#include "KaText.h"
#include "KaTrace.h"
