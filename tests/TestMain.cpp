// SPDX-License-Identifier: MIT
// The main of every UnitTest++ test program in tests/. Without arguments it
// runs every test; with arguments only the suites and tests they name, each
// as Suite or Suite/Test, and none that an argument -Suite or -Suite/Test
// names:
//
//   JsonTextTest JsonGrammar JsonWriter/WritesPlainJSONOnly
//   JsonTextTest -JsonLocale
//
// A name that matches no test is an error, so that a misspelt one cannot
// pass for a run. UnitTest++'s own main has no names at all, and its
// RunTestsIf takes one suite and runs nothing, successfully, for a name it
// does not know.
//
// It exits with 1 when a test failed. A test that cannot check what it is for
// calls skipTest (TestMain.h) and returns: the program then prints
// "skipped: " and each reason and, unless a test failed, exits with 77, which
// CTest reports as a skip (AddTest.cmake).

#include "TestMain.h"

#include <UnitTest++/TestReporterStdout.h>
#include <UnitTest++/UnitTest++.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

std::vector<std::string> skips;

bool isNamed(const UnitTest::Test& test, const std::string& name)
{
    const std::string suite = test.m_details.suiteName;
    return name == suite || name == suite + "/" + test.m_details.testName;
}

} // namespace

void skipTest(const std::string& reason)
{
    const UnitTest::TestDetails& test = *UnitTest::CurrentTest::Details();
    skips.push_back(std::string(test.suiteName) + "/" + test.testName + ": " + reason);
}

int main(int argc, char** argv)
{
    const UnitTest::TestList& tests = UnitTest::Test::GetTestList();
    std::vector<std::string> included, excluded;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i][0] == '-' ? argv[i] + 1 : argv[i];
        (argv[i][0] == '-' ? excluded : included).push_back(name);
        const UnitTest::Test* test = tests.GetHead();
        while (test != nullptr && !isNamed(*test, name)) {
            test = test->m_nextTest;
        }
        if (test == nullptr) {
            std::fprintf(stderr, "%s: no suite or test named %s\n", argv[0], name.c_str());
            return 2;
        }
    }
    const auto named = [](const UnitTest::Test* test, const std::vector<std::string>& names) {
        return std::any_of(names.begin(), names.end(), [&](const std::string& name) { return isNamed(*test, name); });
    };
    UnitTest::TestReporterStdout reporter;
    UnitTest::TestRunner runner(reporter);
    const int failures = runner.RunTestsIf(
        tests, nullptr,
        [&](const UnitTest::Test* test) {
            return (included.empty() || named(test, included)) && !named(test, excluded);
        },
        0);
    for (const std::string& skip : skips) {
        std::printf("skipped: %s\n", skip.c_str());
    }
    return failures != 0 ? 1 : skips.empty() ? 0 : 77;
}
