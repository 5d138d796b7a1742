// Built into every Wine-run test program: when NOWGLOW_SUMMARY_FILE names a
// file, the program writes its counts there as it ends, one per line,
//   passed N / failed N / skipped N / skipped-test SUITE.NAME
// for run-tests.cmd, which cannot take gtest's own output apart safely
// (a quote in a failure message breaks cmd's comparisons), and for
// cmake/wine-run.sh, which so tells a program that reached its end from one
// that Wine ended early with status 0. A program that crashes or hangs
// writes none, and is counted as failed.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>

namespace {

class SummaryFile : public testing::EmptyTestEventListener {
    void OnTestProgramEnd(const testing::UnitTest& unit) override {
        wchar_t path[MAX_PATH];
        const DWORD length = GetEnvironmentVariableW(L"NOWGLOW_SUMMARY_FILE", path, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) return;
        FILE* file = _wfopen(path, L"w");
        if (file == nullptr) return;
        std::fprintf(file, "passed %d\nfailed %d\nskipped %d\n", unit.successful_test_count(),
                     unit.failed_test_count(), unit.skipped_test_count());
        for (int i = 0; i < unit.total_test_suite_count(); i++) {
            const testing::TestSuite* suite = unit.GetTestSuite(i);
            for (int j = 0; j < suite->total_test_count(); j++) {
                const testing::TestInfo* test = suite->GetTestInfo(j);
                if (test->result()->Skipped())
                    std::fprintf(file, "skipped-test %s.%s\n", suite->name(), test->name());
            }
        }
        std::fclose(file);
    }
};

// Installed before main runs the tests; gtest owns the listener. The
// output goes out unbuffered, so that a program that ends abruptly shows
// every line it wrote.
const bool installed = [] {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    testing::UnitTest::GetInstance()->listeners().Append(new SummaryFile);
    return true;
}();

}  // namespace
