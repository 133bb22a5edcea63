/// What the supervision tests share: a log capture and the helpers for
/// talking to a running child.
#ifndef TESTS_SUPERVISION_SUPERVISIONFIXTURE_H
#define TESTS_SUPERVISION_SUPERVISIONFIXTURE_H

#include <gtest/gtest.h>

#include "support/childProcess.h"
#include "support/logTestOutput.h"

namespace fwdtest {

/// Captures every log line up to level 10 (the supervision classes trace at
/// 8 and 9).
class SupervisionTest : public ::testing::Test
{
 protected:
   LogCapture mLog{10, FALSE};
};

} // namespace fwdtest

#endif
