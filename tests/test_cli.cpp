// The front end in-process: the cases no real command line can produce.
#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <sstream>

void PrintUsage(const char* programName);
int Dispatch(int argc, char** argv);

namespace {

// Captures std::cout and restores it, state included, afterwards.
class CapturedStdout {
public:
    CapturedStdout() : saved_(std::cout.rdbuf(buffer_.rdbuf())) {}
    ~CapturedStdout() {
        std::cout.rdbuf(saved_);
        std::cout.clear();
    }
    std::string Text() const { return buffer_.str(); }

private:
    std::ostringstream buffer_;
    std::streambuf* saved_;
};

const char kUsageHead[] =
    "========================================================\n"
    "  Velmora 2D Studio - Commercial Edition v2.4.0\n"
    "  2D Sprite Packing, Normal Mapping & Collider Workstation\n"
    "========================================================\n\n"
    "Usage:\n"
    "  ";

TEST(FrontEnd, NullProgramNameStopsTheUsageTextAndFailsTheStream) {
    CapturedStdout captured;
    PrintUsage(nullptr);
    EXPECT_TRUE(std::cout.bad());
    std::cout << "dropped";
    EXPECT_EQ(captured.Text(), kUsageHead) << "nothing after the two blanks of the usage line";
}

#ifndef _WIN32
TEST(FrontEnd, NoArgumentsWithoutWindowPrintsTruncatedUsageAndSucceeds) {
    // No display: the launcher cannot show its window and returns false.
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    char* argv[] = {nullptr};
    CapturedStdout captured;
    EXPECT_EQ(Dispatch(0, argv), 0);
    EXPECT_EQ(captured.Text(), kUsageHead);
}
#endif

TEST(FrontEnd, ProgramNameIsPrintedUnchanged) {
    CapturedStdout captured;
    char name[] = "C:\\tools\\velmora2d.exe";
    char command[] = "--help";
    char* argv[] = {name, command, nullptr};
    EXPECT_EQ(Dispatch(2, argv), 0);
    EXPECT_NE(captured.Text().find("\n  C:\\tools\\velmora2d.exe [options]\n\n"), std::string::npos);
    EXPECT_FALSE(std::cout.fail());
}

}  // namespace
