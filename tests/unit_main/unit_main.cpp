// Entry of every unit test program. Virtual board and recorder threads are
// never joined (as in vidrec), so the program leaves without running static
// destructors under their feet; with the address sanitizer the leak check
// runs first.
#include <stdio.h>
#include <unistd.h>

#include <gtest/gtest.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

int main(int argc, char **argv) {
    ::testing::InitGoogleTest(&argc, argv);
    int ret = RUN_ALL_TESTS();
    fflush(nullptr);
#if defined(__SANITIZE_ADDRESS__)
    if (__lsan_do_recoverable_leak_check() != 0 && ret == 0) ret = 1;
#endif
    _exit(ret);
}
