// SPDX-License-Identifier: MIT
// The main of every UnitTest++ test program in tests/. Without arguments it
// runs every test; with arguments only the suites and tests they name, each
// as Suite or Suite/Test:
//
//   JsonTextTest JsonGrammar JsonWriter/WritesPlainJSONOnly
//
// A name that matches no test is an error, so that a misspelt one cannot
// pass for a run.

#include <UnitTest++/TestReporterStdout.h>
#include <UnitTest++/UnitTest++.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

bool isNamed(const UnitTest::Test& test, const std::string& name)
{
    const std::string suite = test.m_details.suiteName;
    return name == suite || name == suite + "/" + test.m_details.testName;
}

} // namespace

int main(int argc, char** argv)
{
    const UnitTest::TestList& tests = UnitTest::Test::GetTestList();
    const std::vector<std::string> names(argv + 1, argv + argc);
    const auto named = [&](const UnitTest::Test* test) {
        return std::any_of(names.begin(), names.end(), [&](const std::string& name) { return isNamed(*test, name); });
    };
    for (const std::string& name : names) {
        const UnitTest::Test* test = tests.GetHead();
        while (test != nullptr && !isNamed(*test, name)) {
            test = test->m_nextTest;
        }
        if (test == nullptr) {
            std::fprintf(stderr, "%s: no suite or test named %s\n", argv[0], name.c_str());
            return 2;
        }
    }
    UnitTest::TestReporterStdout reporter;
    UnitTest::TestRunner runner(reporter);
    return runner.RunTestsIf(
        tests, nullptr, [&](const UnitTest::Test* test) { return names.empty() || named(test); }, 0);
}
