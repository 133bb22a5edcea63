// Shared steps of the log tests.
#ifndef TESTS_LIB_LOG_LOGTESTSUPPORT_H
#define TESTS_LIB_LOG_LOGTESTSUPPORT_H

#include <gtest/gtest.h>

#include "lib/log/logTestOutput.h"

// Empties the pre-output buffer of whatever earlier code logged: the first
// output takes it all.
inline void DrainPreOutputBuffer()
{
   ASSERT_TRUE(Log_AddOutput(LogTestOutput_Create(nullptr)));
   Log_Exit();
}

#endif
