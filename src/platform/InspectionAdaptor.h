#pragma once

#include <QDBusAbstractAdaptor>
#include <QList>
#include <QString>
#include <QVariantMap>

#include <memory>

namespace lf {

inline constexpr const char *kInspectionInterface = "com.Lanternfish.MacClient.Inspection";
// Set to 1, it puts the inspection interface on the bus beside the scripting interface.
inline constexpr const char *kInspectionVariable = "LANTERNFISH_TEST_INSPECT";

// What tests of the whole program read of the screen, to know where to click and what a user
// would see. Geometry is in screen coordinates. The interface implements it; called on the main
// thread.
class InspectionBackend {
public:
    virtual ~InspectionBackend() = default;

    // The visible top-level windows, sheets and balloons: {"class", "object", "name", "title",
    // "modal", "active", "id" (the native window's), "x", "y", "width", "height"}.
    virtual QList<QVariantMap> windows() = 0;
    // Every element of the visible windows as assistive technology sees it: {"window" (the
    // window's object name), "class", "object", "name", "role" (QAccessible::Role's key),
    // "value" (never for a password field), "focused", "focusable" (a widget that takes the focus),
    // "enabled", "x", "y", "width", "height"}.
    virtual QList<QVariantMap> controls() = 0;
    // The focus widget's record as in controls(); empty when no widget has the focus.
    virtual QVariantMap focus() = 0;
    // The text of the balloon on screen; empty when none shows.
    virtual QString balloon() = 0;
};

// The inspection interface on the bus; each call reads the backend.
class InspectionAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.Lanternfish.MacClient.Inspection")

public:
    // `object` is the exported object and the adaptor's parent.
    InspectionAdaptor(QObject *object, std::shared_ptr<InspectionBackend> backend);

public slots:
    QList<QVariantMap> Windows();
    QList<QVariantMap> Controls();
    QVariantMap Focus();
    QString Balloon();

private:
    std::shared_ptr<InspectionBackend> m_backend;
};

} // namespace lf
