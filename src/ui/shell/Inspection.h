#pragma once

#include "platform/InspectionAdaptor.h"

namespace lf {

// The program's windows as the inspection interface shows them: the widgets' accessibility
// interfaces, read on demand. Only tests turn it on (kInspectionVariable).
class Inspection : public InspectionBackend {
public:
    QList<QVariantMap> windows() override;
    QList<QVariantMap> controls() override;
    QVariantMap focus() override;
    QString balloon() override;
};

} // namespace lf
