#pragma once

#include "common/ScratchSettings.h"

namespace tandem::test {

class HistoryFixture : public ScratchSettings {};

}  // namespace tandem::test
