#include <QCoreApplication>

#include <gtest/gtest.h>

#if defined(__SANITIZE_THREAD__)
// Qt is not built with ThreadSanitizer, so the locks inside it (futexes) are invisible and its
// own hand-overs (the image-scaling thread pool) look like races. Interceptors called from
// such libraries are ignored; our own code stays fully checked.
extern "C" const char *__tsan_default_options() {
    return "ignore_noninstrumented_modules=1";
}
#endif

int main(int argc, char **argv) {
    testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
