#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>

class QListWidget;
class QWidget;

namespace lf {

class LFBalloonView;

class AddressPickerDelegate {
public:
    virtual ~AddressPickerDelegate() = default;
    // A candidate chosen by an arrow key (the entry stays open) or by a click (it is finished).
    virtual void addressClicked(const QString &address, bool byArrow) = 0;
};

// The completion pop-up: a balloon with the candidates, one per row, hanging under the field.
// It never takes the keyboard focus; the field hands it the arrow keys.
class LFAddressPicker : public QObject {
    Q_OBJECT
public:
    static constexpr int kOverlap = 6;
    static constexpr int kMaxRows = 8;

    explicit LFAddressPicker(AddressPickerDelegate *delegate, QObject *parent = nullptr);
    ~LFAddressPicker() override;

    // Shows the candidates (first row selected, not chosen), or hides when there are none.
    void setAddresses(const QStringList &addresses);
    QStringList addresses() const { return m_addresses; }
    // Places the balloon under `view`, overlapping its bottom edge, and shows it.
    void glomToView(QWidget *view);
    bool isVisible() const;
    void hide();
    // The arrow keys while the pop-up shows; false when it is hidden.
    bool upArrow();
    bool downArrow();
    int selectedRow() const;
    QListWidget *list() const { return m_list; }
    QWidget *balloon() const;

private:
    void build(QWidget *window);
    void report(int row, bool byArrow);
    void place();

    AddressPickerDelegate *m_delegate;
    QStringList m_addresses;
    QPointer<QWidget> m_view;
    QPointer<LFBalloonView> m_balloon;
    QListWidget *m_list = nullptr;
};

} // namespace lf
