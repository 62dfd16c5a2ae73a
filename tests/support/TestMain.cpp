#include <QCoreApplication>

#include <gtest/gtest.h>

#if defined(__SANITIZE_THREAD__)
// Qt is not built with ThreadSanitizer, so the locks inside it (futexes) are invisible and its
// own hand-overs (the image-scaling thread pool) look like races. Interceptors called from
// such libraries are ignored; our own code stays fully checked. The whole-program tests start
// programs (QProcess forks) while the in-process server's threads run; the child only goes on to
// exec, so it is not stopped for being the fork of a multi-threaded process.
extern "C" const char *__tsan_default_options() {
    return "ignore_noninstrumented_modules=1:die_after_fork=0";
}
#endif

int main(int argc, char **argv) {
    testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
