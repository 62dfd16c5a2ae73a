// Build-time renderer of the program's artwork: one SVG source to one PNG, at a scale of the
// source's own size or at a square pixel size (application icon sizes).
//
//   lanternfish-render-artwork SOURCE.svg OUT.png --scale 2
//   lanternfish-render-artwork SOURCE.svg OUT.png --size 48

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>

int main(int argc, char **argv) {
    // Fonts are needed for the logo's lettering; no display is.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // What the SVG reader says about a source matters; Qt's start-up chatter would only clutter the log.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &context, const QString &message) {
        if (type != QtDebugMsg && type != QtInfoMsg && context.category
            && QByteArray(context.category).startsWith("qt.svg"))
            std::fprintf(stderr, "%s\n", qPrintable(message));
    });
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 5 || (args[3] != QLatin1String("--scale") && args[3] != QLatin1String("--size"))) {
        std::fprintf(
            stderr, "usage: lanternfish-render-artwork SOURCE.svg OUT.png (--scale N | --size PIXELS)\n");
        return 2;
    }
    QSvgRenderer renderer(args[1]);
    if (!renderer.isValid()) {
        std::fprintf(stderr, "lanternfish-render-artwork: %s is not a valid SVG\n", qPrintable(args[1]));
        return 1;
    }
    bool ok = false;
    const int number = args[4].toInt(&ok);
    if (!ok || number <= 0) {
        std::fprintf(stderr, "lanternfish-render-artwork: bad number %s\n", qPrintable(args[4]));
        return 2;
    }
    const QSize size
        = args[3] == QLatin1String("--scale") ? renderer.defaultSize() * number : QSize(number, number);

    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHints(
            QPainter::Antialiasing | QPainter::SmoothPixmapTransform | QPainter::TextAntialiasing);
        renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(size)));
    }
    QDir().mkpath(QFileInfo(args[2]).absolutePath());
    if (!image.save(args[2], "PNG")) {
        std::fprintf(stderr, "lanternfish-render-artwork: cannot write %s\n", qPrintable(args[2]));
        return 1;
    }
    return 0;
}
