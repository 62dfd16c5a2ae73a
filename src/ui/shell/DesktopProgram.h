#pragma once

#include "shell/DesktopIntegration.h"
#include "shell/MacClientAppDelegate.h"

#include <memory>

namespace lf {

// The desktop program's parts wired as lanternfish runs them: the delegate with its window, the
// sheets it asks for and its life on the desktop. The screenshot driver runs the same wiring, so
// what it shows is what a user gets.
class DesktopProgram {
public:
    // Before the QApplication exists: what the web engine must know at its start.
    static void prepareApplication();
    // Right after: the names and icon the desktop shows.
    static void nameApplication();

    DesktopProgram();
    ~DesktopProgram();
    DesktopProgram(const DesktopProgram &) = delete;
    DesktopProgram &operator=(const DesktopProgram &) = delete;

    MacClientAppDelegate &delegate() { return m_delegate; }
    DesktopIntegration &desktop() { return *m_desktop; }

    // Starts up: signs in with the stored credentials, or asks for a sign-in.
    void launch();
    // After the event loop has ended: gives the workers a moment to finish or see their
    // cancellation, and ends the process at once when one is stuck. Returns `status` otherwise.
    int finish(int status);

    // How long the end waits for workers before leaving them behind.
    static constexpr int kWorkersGraceMs = 2500;

private:
    MacClientAppDelegate m_delegate;
    // Ended before the delegate goes.
    std::unique_ptr<DesktopIntegration> m_desktop;
};

} // namespace lf
