#pragma once

#include "devserver/DevServer.h"
#include "session/Service.h"
#include "share/PhotoBytes.h"

#include <QImage>
#include <QString>

#include <functional>
#include <memory>

// What the benches share: camera-like test photos, the libjpeg-turbo floor, and the process's
// own CPU and memory figures.
namespace lf::bench {

// A picture with the texture of a photo: smooth light, edges and sensor noise, so its JPEG has a
// camera file's size and decoding cost.
QImage photoLike(int width, int height);

// Writes photoLike(width, height) to `path` in `format`; a JPEG gets a camera's EXIF, since
// reading it is part of the work. False (and a message on stderr) when it cannot be written.
bool writeCameraPhoto(const QString &path, int width, int height, const char *format = "jpeg");

// libjpeg-turbo on its own: every scanline decoded at 1/4 scale into one reused row.
bool decodeQuarter(const PhotoBytes &bytes);

// CPU time (user and system) of this process so far, in seconds.
double cpuSeconds();
// This process's peak resident memory so far, in megabytes.
double peakMB();

// Runs the event loop until `done` (which only main-thread deliveries change) or `timeoutMs`.
void runUntil(const std::function<bool()> &done, int timeoutMs);

// The in-process reference server with its demo account, and a session signed in to it. HOME and
// the XDG folders point into `home` first.
class DemoSession : public ServiceDelegate {
public:
    // `serverData`: where the server keeps its data; empty for a folder of its own.
    explicit DemoSession(const QString &home, const QString &serverData = {});
    ~DemoSession() override;

    // False (with a message on stderr) when the server did not start or the sign-in did not end.
    bool ready() const { return m_ready; }
    dev::DevServer &server() { return *m_server; }
    const std::shared_ptr<Service> &service() const { return m_service; }

    void serviceThreadCompleted(const QVariantMap &) override { ++m_completions; }

private:
    std::unique_ptr<dev::DevServer> m_server;
    std::shared_ptr<Service> m_service;
    int m_completions = 0;
    bool m_ready = false;
};

} // namespace lf::bench
