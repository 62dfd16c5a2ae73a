#include "shell/Inspection.h"

#include "toolkit/LFAlert.h"

#include <QAccessible>
#include <QApplication>
#include <QMetaEnum>
#include <QWidget>

namespace lf {

namespace {

// Bounds a walk of a window whose tree has grown without limit (a list of every contact).
constexpr int kMaxElements = 4000;
constexpr int kMaxDepth = 64;

void putRect(QVariantMap &record, const QRect &rect) {
    record.insert(QStringLiteral("x"), rect.x());
    record.insert(QStringLiteral("y"), rect.y());
    record.insert(QStringLiteral("width"), rect.width());
    record.insert(QStringLiteral("height"), rect.height());
}

QString windowKey(const QWidget *window) {
    return window->objectName().isEmpty() ? QString::fromLatin1(window->metaObject()->className())
                                          : window->objectName();
}

QVariantMap elementRecord(QAccessibleInterface *element, const QString &window) {
    const QAccessible::State state = element->state();
    const QObject *object = element->object();
    QVariantMap record;
    record.insert(QStringLiteral("window"), window);
    record.insert(
        QStringLiteral("class"), object ? QString::fromLatin1(object->metaObject()->className()) : QString());
    record.insert(QStringLiteral("object"), object ? object->objectName() : QString());
    record.insert(QStringLiteral("name"), element->text(QAccessible::Name));
    record.insert(QStringLiteral("role"),
        QString::fromLatin1(QMetaEnum::fromType<QAccessible::Role>().valueToKey(element->role())));
    record.insert(
        QStringLiteral("value"), state.passwordEdit ? QString() : element->text(QAccessible::Value));
    record.insert(QStringLiteral("focused"), bool(state.focused));
    record.insert(QStringLiteral("enabled"), !state.disabled);
    const auto *widget = qobject_cast<const QWidget *>(object);
    record.insert(QStringLiteral("focusable"), widget && widget->focusPolicy() != Qt::NoFocus);
    putRect(record, element->rect());
    return record;
}

void walk(QAccessibleInterface *element, const QString &window, int depth, QList<QVariantMap> &out) {
    if (!element || !element->isValid() || depth > kMaxDepth || out.size() >= kMaxElements)
        return;
    if (element->state().invisible)
        return;
    out.append(elementRecord(element, window));
    // A page's own tree would wake the web engine's accessibility for nothing a test reads.
    if (element->object() && element->object()->inherits("QWebEngineView"))
        return;
    for (int i = 0; i < element->childCount(); ++i)
        walk(element->child(i), window, depth + 1, out);
}

QList<QWidget *> visibleWindows() {
    QList<QWidget *> found;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible())
            found.append(widget);
    }
    return found;
}

} // namespace

QList<QVariantMap> Inspection::windows() {
    QList<QVariantMap> records;
    for (QWidget *window : visibleWindows()) {
        QVariantMap record;
        record.insert(QStringLiteral("class"), QString::fromLatin1(window->metaObject()->className()));
        record.insert(QStringLiteral("object"), window->objectName());
        record.insert(QStringLiteral("name"), window->accessibleName());
        record.insert(QStringLiteral("title"), window->windowTitle());
        record.insert(QStringLiteral("modal"), window->windowModality() != Qt::NonModal);
        record.insert(QStringLiteral("active"), window->isActiveWindow());
        record.insert(QStringLiteral("id"), qulonglong(window->winId()));
        putRect(record, window->geometry());
        records.append(record);
    }
    return records;
}

QList<QVariantMap> Inspection::controls() {
    QList<QVariantMap> records;
    for (QWidget *window : visibleWindows())
        walk(QAccessible::queryAccessibleInterface(window), windowKey(window), 0, records);
    return records;
}

QVariantMap Inspection::focus() {
    QWidget *widget = QApplication::focusWidget();
    QAccessibleInterface *element = widget ? QAccessible::queryAccessibleInterface(widget) : nullptr;
    if (!element)
        return {};
    return elementRecord(element, windowKey(widget->window()));
}

QString Inspection::balloon() {
    const LFAlert *alert = LFAlert::current();
    return alert && !alert->isClosed() ? alert->text() : QString();
}

} // namespace lf
