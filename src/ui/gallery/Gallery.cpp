#include "Gallery.h"

#include "foundation/Strings.h"
#include "toolkit/Artwork.h"
#include "toolkit/LFAlert.h"
#include "toolkit/LFBalloonView.h"
#include "toolkit/LFIconButton.h"
#include "toolkit/LFTheme.h"
#include "toolkit/WindowSnapshot.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include <functional>

namespace lf {

namespace {

QString describe(const QColor &c) {
    int r, g, b, a;
    getRedByte(c, &r, &g, &b, &a);
    return a == 255 ? QStringLiteral("%1, %2, %3").arg(r).arg(g).arg(b)
                    : QStringLiteral("%1, %2, %3 · α %4").arg(r).arg(g).arg(b).arg(a);
}

void paintChecker(QPainter &p, const QRectF &r) {
    p.save();
    p.setClipRect(r);
    for (int y = 0; y < r.height(); y += 6)
        for (int x = 0; x < r.width(); x += 6)
            p.fillRect(QRectF(r.left() + x, r.top() + y, 6, 6),
                ((x + y) / 6) % 2 ? QColor(0xCC, 0xCC, 0xCC) : Qt::white);
    p.restore();
}

// One theme value: a chip of the colour, brush or gradient with its name and components.
class Swatch : public QWidget {
public:
    Swatch(const QString &name, QString value, std::function<void(QPainter &, const QRectF &)> fill)
        : m_name(name)
        , m_value(std::move(value))
        , m_fill(std::move(fill)) {
        setFixedSize(232, 46);
        setAccessibleName(name);
        setAccessibleDescription(m_value);
        setToolTip(m_value);
    }

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF chip(3, 5, 36, 36);
        QPainterPath rounded;
        rounded.addRoundedRect(chip, 7, 7);
        p.save();
        p.setClipPath(rounded);
        paintChecker(p, chip);
        m_fill(p, chip);
        p.restore();
        p.setPen(QPen(QColor(0, 0, 0, 50), 1));
        p.drawPath(rounded);
        QFont bold = font();
        bold.setBold(true);
        p.setFont(bold);
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(QRectF(48, 6, width() - 50, 18), Qt::AlignLeft | Qt::AlignVCenter, m_name);
        p.setFont(font());
        p.setPen(palette().color(QPalette::PlaceholderText));
        p.drawText(QRectF(48, 24, width() - 50, 16), Qt::AlignLeft | Qt::AlignVCenter, m_value);
    }

private:
    QString m_name;
    QString m_value;
    std::function<void(QPainter &, const QRectF &)> m_fill;
};

Swatch *colourSwatch(const QString &name, const QColor &c) {
    return new Swatch(name, describe(c), [c](QPainter &p, const QRectF &r) { p.fillRect(r, c); });
}

Swatch *gradientSwatch(const QString &name, const LFGradient &g) {
    return new Swatch(name, describe(g.start) + QStringLiteral(" → ") + describe(g.end),
        [g](QPainter &p, const QRectF &r) { p.fillRect(r, g.linear(r.topLeft(), r.bottomLeft())); });
}

// A white card holding one section of the page.
QWidget *card(const QString &title, QWidget *content) {
    auto *box = new QWidget;
    box->setObjectName(QStringLiteral("card"));
    box->setAttribute(Qt::WA_StyledBackground);
    box->setStyleSheet(
        QStringLiteral("#card { background: white; border: 1px solid #D4D4D8; border-radius: 8px; }"));
    auto *layout = new QVBoxLayout(box);
    layout->setContentsMargins(18, 14, 18, 18);
    layout->setSpacing(10);
    auto *heading = new QLabel(title);
    QFont f = heading->font();
    f.setPointSizeF(f.pointSizeF() * 1.25);
    f.setBold(true);
    heading->setFont(f);
    heading->setStyleSheet(QStringLiteral("color: #3C3046"));
    layout->addWidget(heading);
    layout->addWidget(content);
    return box;
}

// The toolbar of the main window in miniature: the toolbar gradient, the Share and Cancel
// buttons with their icons, the contacts link and an address field.
class Toolbar : public QWidget {
public:
    explicit Toolbar(QWidget *parent = nullptr)
        : QWidget(parent) {
        setFixedHeight(36);
        setAccessibleName(QStringLiteral("Recipients bar"));
    }

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter p(this);
        p.fillRect(rect(), LFTheme::toolbarGradient().linear(QPointF(0, 0), QPointF(0, height())));
        p.setPen(QColor(0, 0, 0, 40));
        p.drawLine(0, height() - 1, width(), height() - 1);
    }
};

// A button drawn in one of the theme's gradients with white text and an icon.
class GradientButton : public QPushButton {
public:
    GradientButton(const QString &text, const QString &icon, LFGradient gradient, QWidget *parent = nullptr)
        : QPushButton(text, parent)
        , m_icon(icon)
        , m_gradient(gradient) {
        setAccessibleName(text);
        setFixedSize(96, 26);
        setCursor(Qt::PointingHandCursor);
    }

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        LFGradient g = m_gradient;
        if (isDown())
            g = {colorByDarkening(g.start), colorByDarkening(g.end)};
        p.setPen(QPen(colorByDarkening(g.end), 1));
        p.setBrush(g.linear(r.topLeft(), r.bottomLeft()));
        p.drawRoundedRect(r, 6, 6);
        const QPixmap pm = Artwork::pixmap(m_icon, devicePixelRatioF());
        const qreal contentWidth = 16 + 6 + fontMetrics().horizontalAdvance(text());
        const qreal x = (width() - contentWidth) / 2;
        p.drawPixmap(QRectF(x, (height() - 16) / 2.0, 16, 16), pm, QRectF(pm.rect()));
        QFont f = font();
        f.setBold(true);
        p.setFont(f);
        p.setPen(LFTheme::buttonTextColor());
        p.drawText(QRectF(x + 22, 0, width() - x - 22, height()), Qt::AlignLeft | Qt::AlignVCenter, text());
    }

private:
    QString m_icon;
    LFGradient m_gradient;
};

// An address bubble in the theme's bubble colours, for looking at the stroke of each kind.
class Bubble : public QWidget {
public:
    Bubble(const QString &text, int kind, bool flag)
        : m_text(text)
        , m_kind(kind)
        , m_flag(flag) {
        QFont f = font();
        f.setPixelSize(13);
        setFont(f);
        setFixedSize(fontMetrics().horizontalAdvance(text) + 40, 22);
        setAccessibleName(text);
    }

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF r = QRectF(rect()).adjusted(1, 1, -1, -1);
        p.setPen(QPen(LFTheme::bubbleStrokeColor(m_flag, m_kind), 1.5));
        p.setBrush(m_kind == 2 ? LFTheme::bubbleSiteColor(m_flag) : LFTheme::bubbleColor(m_flag));
        p.drawRoundedRect(r, r.height() / 2, r.height() / 2);
        p.setPen(LFTheme::bubbleTextColor(m_flag));
        p.drawText(QRectF(10, 0, width() - 30, height()), Qt::AlignVCenter | Qt::AlignLeft, m_text);
        const QPixmap del = Artwork::pixmap(QStringLiteral("delX"), devicePixelRatioF());
        p.drawPixmap(QRectF(width() - 18, (height() - 12) / 2.0, 12, 12), del, QRectF(del.rect()));
    }

private:
    QString m_text;
    int m_kind;
    bool m_flag;
};

// One image: its name, the scale-1 file and the scale-2 file, each at its own pixel size (the
// large ones' scale-2 file at their size in points, as a high-density screen shows it).
class ImageCell : public QWidget {
public:
    explicit ImageCell(const QString &name)
        : m_name(name) {
        const QPixmap one = Artwork::pixmap(name, 1.0);
        const QPixmap two = Artwork::pixmap(name, 2.0);
        m_one = one;
        m_two = two;
        m_twoShown = one.width() <= 64 ? QSizeF(two.size()) : QSizeF(one.size());
        m_caption = name + QStringLiteral("  ") + QStringLiteral("%1×%2").arg(one.width()).arg(one.height());
        const int w = std::max<int>(
            fontMetrics().horizontalAdvance(m_caption) + 8, one.width() + int(m_twoShown.width()) + 36);
        const int h = int(std::max<qreal>(one.height(), m_twoShown.height())) + 44;
        setFixedSize(w, h);
        setAccessibleName(name);
    }

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        const QRectF area(0, 20, width(), height() - 20);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0xB4, 0xB4, 0xB8));
        p.drawRoundedRect(area, 6, 6);
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(QRectF(2, 0, width() - 4, 18), Qt::AlignLeft | Qt::AlignVCenter, m_caption);
        const qreal y = area.top() + 12;
        p.drawPixmap(QRectF(12, y, m_one.width(), m_one.height()), m_one, QRectF(m_one.rect()));
        p.drawPixmap(QRectF(24 + m_one.width(), y, m_twoShown.width(), m_twoShown.height()), m_two,
            QRectF(m_two.rect()));
    }

private:
    QString m_name;
    QString m_caption;
    QPixmap m_one, m_two;
    QSizeF m_twoShown;
};

} // namespace

Gallery::Gallery(QWidget *parent)
    : QWidget(parent) {
    setWindowTitle(QStringLiteral("Lanternfish toolkit gallery"));
    setAccessibleName(windowTitle());
    resize(1240, 860);

    m_page = new QWidget;
    m_page->setObjectName(QStringLiteral("page"));
    m_page->setAutoFillBackground(true);
    QPalette pal = m_page->palette();
    pal.setColor(QPalette::Window, QColor(0xEF, 0xF0, 0xF1));
    m_page->setPalette(pal);
    auto *layout = new QVBoxLayout(m_page);
    layout->setContentsMargins(20, 16, 20, 20);
    layout->setSpacing(16);

    auto *header = new QHBoxLayout;
    auto *logo = new QLabel;
    logo->setPixmap(Artwork::pixmap(QStringLiteral("logo"), devicePixelRatioF()));
    logo->setAccessibleName(QStringLiteral("Lanternfish logo"));
    header->addWidget(logo);
    auto *subtitle = new QLabel(QStringLiteral("Interface toolkit"));
    subtitle->setStyleSheet(QStringLiteral("color: #6B6170; padding-top: 6px"));
    header->addWidget(subtitle);
    header->addStretch();
    layout->addLayout(header);

    auto *top = new QHBoxLayout;
    top->setSpacing(16);
    top->addWidget(card(QStringLiteral("Balloon alert"), balloonSection()), 1);
    layout->addLayout(top);
    layout->addWidget(card(QStringLiteral("Colours"), themeSection()));
    layout->addWidget(card(QStringLiteral("Artwork at scale 1 and 2"), artworkSection()));
    layout->addStretch();

    auto *scroll = new QScrollArea;
    scroll->setWidget(m_page);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setAccessibleName(QStringLiteral("Gallery"));
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(scroll);
}

QWidget *Gallery::themeSection() {
    auto *w = new QWidget;
    auto *grid = new QGridLayout(w);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(6);
    const QList<QPair<QString, QColor>> colours {
        {"zoneColor", LFTheme::zoneColor()},
        {"mainWindowBackgroundColor", LFTheme::mainWindowBackgroundColor()},
        {"userTextColor", LFTheme::userTextColor()},
        {"primaryColor", LFTheme::primaryColor()},
        {"primaryColorEnd", LFTheme::primaryColorEnd()},
        {"warningColor", LFTheme::warningColor()},
        {"warningColorEnd", LFTheme::warningColorEnd()},
        {"secondaryColor", LFTheme::secondaryColor()},
        {"secondaryColorEnd", LFTheme::secondaryColorEnd()},
        {"navBarColor", LFTheme::navBarColor()},
        {"hilightColor", LFTheme::hilightColor()},
        {"separatorColor", LFTheme::separatorColor()},
        {"tableBackgroundColor", LFTheme::tableBackgroundColor()},
        {"tableHoverColor", LFTheme::tableHoverColor()},
        {"bezelBackgroundColor", LFTheme::bezelBackgroundColor()},
        {"backgroundColorX", LFTheme::backgroundColorX()},
        {"textColor", LFTheme::textColor()},
        {"buttonTextColor", LFTheme::buttonTextColor()},
        {"tableTextColor", LFTheme::tableTextColor()},
        {"tableTextSelectedColor", LFTheme::tableTextSelectedColor()},
        {"errorBalloonColor", LFTheme::errorBalloonColor()},
        {"bubbleColor(set)", LFTheme::bubbleColor(true)},
        {"bubbleColor(clear)", LFTheme::bubbleColor(false)},
        {"bubbleSiteColor(clear)", LFTheme::bubbleSiteColor(false)},
        {"bubbleTextColor(set)", LFTheme::bubbleTextColor(true)},
        {"bubbleTextColor(clear)", LFTheme::bubbleTextColor(false)},
        {"bubbleStroke kind 0", LFTheme::bubbleStrokeColor(true, 0)},
        {"bubbleStroke kind 1", LFTheme::bubbleStrokeColor(true, 1)},
        {"bubbleStroke kind 2", LFTheme::bubbleStrokeColor(true, 2)},
    };
    const int columns = 5;
    int i = 0;
    for (const auto &[name, colour] : colours) {
        grid->addWidget(colourSwatch(name, colour), i / columns, i % columns);
        ++i;
    }
    auto add = [&](QWidget *swatch) {
        grid->addWidget(swatch, i / columns, i % columns);
        ++i;
    };
    add(gradientSwatch(QStringLiteral("lfGradient"), LFTheme::lfGradient()));
    add(gradientSwatch(QStringLiteral("toolbarGradient"), LFTheme::toolbarGradient()));
    add(gradientSwatch(QStringLiteral("window background"), LFTheme::windowGradient()));
    LFBalloonView probe;
    add(gradientSwatch(QStringLiteral("balloon gradient"), probe.getColorGradient()));
    add(new Swatch(QStringLiteral("backgroundColor"), QStringLiteral("pinstripe tile"),
        [](QPainter &p, const QRectF &r) { p.fillRect(r, LFTheme::backgroundColor()); }));
    add(colourSwatch(QStringLiteral("primary, lightened"), colorByLightening(LFTheme::primaryColor())));
    add(colourSwatch(QStringLiteral("primary, darkened"), colorByDarkening(LFTheme::primaryColor())));
    return w;
}

QWidget *Gallery::balloonSection() {
    auto *w = new QWidget;
    auto *layout = new QVBoxLayout(w);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);

    // The main window's recipients bar with an entry that is not an address.
    auto *bar = new Toolbar;
    auto *barLayout = new QHBoxLayout(bar);
    barLayout->setContentsMargins(10, 4, 16, 4);
    barLayout->setSpacing(8);
    auto *to = new QLabel(QStringLiteral("To:"));
    to->setStyleSheet(QStringLiteral("color: #505050"));
    barLayout->addWidget(to);
    m_field = new QLineEdit(QStringLiteral("ann.example.org"));
    m_field->setAccessibleName(QStringLiteral("Recipients"));
    m_field->setFixedWidth(300);
    barLayout->addWidget(m_field);
    auto *again = new QPushButton(QStringLiteral("Show the balloon"));
    again->setAccessibleName(again->text());
    connect(again, &QPushButton::clicked, this, &Gallery::showBalloon);
    barLayout->addWidget(again);
    barLayout->addStretch();
    auto *link = new QLabel(QStringLiteral("Link contacts"));
    link->setStyleSheet(QStringLiteral("color: #AE3B93"));
    barLayout->addWidget(link);
    barLayout->addWidget(new GradientButton(localizedString(QStringLiteral("[Cancel]")),
        QStringLiteral("icon_cancel"), {LFTheme::secondaryColor(), LFTheme::secondaryColorEnd()}));
    barLayout->addWidget(new GradientButton(localizedString(QStringLiteral("[Share]")),
        QStringLiteral("lantern_tag"), {LFTheme::primaryColor(), LFTheme::primaryColorEnd()}));
    layout->addWidget(bar);
    // Room for the live balloon under the field.
    layout->addSpacing(150);

    // The tip on each side, and bubbles of each kind.
    auto *row = new QHBoxLayout;
    row->setSpacing(14);
    const QStringList sides {
        QStringLiteral("left"), QStringLiteral("bottom"), QStringLiteral("right"), QStringLiteral("top")};
    for (int side = 0; side < 4; ++side) {
        auto *label = new QLabel(QStringLiteral("Tip on the %1").arg(sides[side]));
        label->setStyleSheet(QStringLiteral("color: #261A1B"));
        label->setAlignment(Qt::AlignCenter);
        label->resize(120, 36);
        auto *holder = new QWidget;
        label->setParent(holder);
        LFBalloonView *balloon = LFBalloonView::balloonViewAround(label);
        balloon->setPointSide(side);
        balloon->setPointPosition(0.5);
        balloon->resize(balloon->width() + (side == 0 || side == 2 ? 12 : 0),
            balloon->height() + (side == 1 || side == 3 ? 12 : 0));
        // The label in the middle of the body.
        const QRectF body = balloon->bodyRect();
        label->move(
            int(body.center().x() - label->width() / 2.0), int(body.center().y() - label->height() / 2.0));
        holder->setFixedSize(balloon->size());
        balloon->setAccessibleName(label->text());
        row->addWidget(holder, 0, Qt::AlignTop);
    }
    row->addSpacing(16);
    auto *bubbles = new QVBoxLayout;
    bubbles->setSpacing(6);
    bubbles->addWidget(new Bubble(QStringLiteral("Ann Example"), 0, true));
    bubbles->addWidget(new Bubble(QStringLiteral("Family"), 1, true));
    bubbles->addWidget(new Bubble(QStringLiteral("PhotoStream"), 2, true));
    row->addLayout(bubbles);
    row->addStretch();
    layout->addLayout(row);
    return w;
}

QWidget *Gallery::artworkSection() {
    auto *w = new QWidget;
    auto *layout = new QVBoxLayout(w);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(14);

    // The application icon at every size.
    auto *icons = new QHBoxLayout;
    icons->setSpacing(18);
    for (int size : Artwork::applicationIconSizes()) {
        if (size > 256)
            continue;
        auto *label = new QLabel;
        QPixmap pm(Artwork::applicationIconPath(size));
        label->setPixmap(pm);
        label->setAlignment(Qt::AlignBottom | Qt::AlignHCenter);
        label->setToolTip(QStringLiteral("%1 px").arg(size));
        label->setAccessibleName(QStringLiteral("Application icon, %1 pixels").arg(size));
        icons->addWidget(label, 0, Qt::AlignBottom);
    }
    icons->addStretch();
    layout->addLayout(icons);

    // Every named image; small ones first, in rows of a fixed width.
    QStringList names = Artwork::imageNames();
    std::stable_sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        return Artwork::pixmap(a, 1.0).width() < Artwork::pixmap(b, 1.0).width();
    });
    const int rowWidth = 1160;
    QHBoxLayout *row = nullptr;
    int used = 0;
    for (const QString &name : names) {
        auto *cell = new ImageCell(name);
        if (!row || used + cell->width() > rowWidth) {
            row = new QHBoxLayout;
            row->setSpacing(12);
            layout->addLayout(row);
            used = 0;
        }
        row->addWidget(cell, 0, Qt::AlignTop);
        used += cell->width() + 12;
    }
    if (row)
        row->addStretch();
    // Rows already full are left-aligned too.
    for (int i = 0; i < layout->count(); ++i)
        if (auto *l = qobject_cast<QHBoxLayout *>(layout->itemAt(i)->layout()); l && l != row)
            l->addStretch();
    return w;
}

void Gallery::showBalloon() {
    LFAlert *alert = LFAlert::alertWithString(
        QStringLiteral("“ann.example.org” is not an e-mail address. Type an address such as "
                       "ann@example.org, a group as %Family or a linked site as @PhotoStream."),
        m_field);
    alert->setAction([this](LFAlert *) { m_field->selectAll(); });
}

QImage Gallery::snapshot() {
    QList<QWidget *> shown {m_page};
    if (LFAlert *alert = LFAlert::current(); alert && alert->window())
        shown.append(alert->window());
    return snapshotWindows(shown);
}

} // namespace lf
