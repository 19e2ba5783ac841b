// KaMsUtil: the utility library. Include this for all of it.
#pragma once

#include "KaMsUtilApi.h"
#include "KaString.h"
#include "KaText.h"
#include "KaObList.h"
#include "KaFile.h"
#include "KaEncode.h"
#include "KaScramble.h"
#include "KaTrace.h"
#include "KaIdent.h"
