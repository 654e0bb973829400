// SPDX-License-Identifier: MIT
// What the shared main of the test programs (TestMain.cpp) offers a test.
#ifndef CPARAMETERS_TESTS_TESTMAIN_H
#define CPARAMETERS_TESTS_TESTMAIN_H

#include <string>

// Says that the running test could not check what it is for, and why; the
// test returns after it. The program reports itself skipped, reason given,
// unless a test failed. A test that may skip belongs in a suite of its own,
// run as a CTest test of its own (cparameters_add_test's ALONE), so that a
// skip never hides what the rest of the program checked.
void skipTest(const std::string& reason);

#endif
