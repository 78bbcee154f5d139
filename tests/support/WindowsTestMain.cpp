// The test programs' entry point on Windows. Under wine a static destructor of
// the C++ runtime may hang at exit (in pthread_key_delete) after every test has
// passed, so the program ends without running them, as the command-line tool does.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(result);
}
