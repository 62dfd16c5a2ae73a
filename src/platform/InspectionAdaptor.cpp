#include "platform/InspectionAdaptor.h"

#include <QDBusMetaType>

namespace lf {

InspectionAdaptor::InspectionAdaptor(QObject *object, std::shared_ptr<InspectionBackend> backend)
    : QDBusAbstractAdaptor(object)
    , m_backend(std::move(backend)) {
    qDBusRegisterMetaType<QList<QVariantMap>>();
}

QList<QVariantMap> InspectionAdaptor::Windows() {
    return m_backend->windows();
}

QList<QVariantMap> InspectionAdaptor::Controls() {
    return m_backend->controls();
}

QVariantMap InspectionAdaptor::Focus() {
    return m_backend->focus();
}

QString InspectionAdaptor::Balloon() {
    return m_backend->balloon();
}

} // namespace lf
