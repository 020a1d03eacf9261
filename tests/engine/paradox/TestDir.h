#pragma once
// The shared test folder and field helpers under the names the Paradox tests use.
#include "tests/engine/EngineTestSupport.h"

using TestDir = enginetest::TempDir;
using enginetest::field;
