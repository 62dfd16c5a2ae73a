// lanternfish-test-drag-source X Y FILE...: a small window at (X, Y) that starts a drag of the
// files (text/uri-list) when the pointer is pressed on it, as a file manager would. Prints
// "ready" once shown and "dropped ACTION" when the drag ends; stays a few seconds after, since
// the target reads the files from this program after the drop.
#include <QApplication>
#include <QDrag>
#include <QMimeData>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <cstdio>

namespace {

class DragSource : public QWidget {
public:
    explicit DragSource(QList<QUrl> urls)
        : m_urls(std::move(urls)) {
        setWindowTitle(QStringLiteral("Drag source"));
    }

protected:
    void mousePressEvent(QMouseEvent *) override {
        auto *mime = new QMimeData;
        mime->setUrls(m_urls);
        auto *drag = new QDrag(this);
        drag->setMimeData(mime);
        const Qt::DropAction action = drag->exec(Qt::CopyAction);
        std::printf("dropped %d\n", int(action));
        std::fflush(stdout);
        QTimer::singleShot(10000, qApp, &QCoreApplication::quit);
    }

private:
    QList<QUrl> m_urls;
};

} // namespace

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 4) {
        std::fprintf(stderr, "usage: lanternfish-test-drag-source X Y FILE...\n");
        return 2;
    }
    QList<QUrl> urls;
    for (const QString &file : args.mid(3))
        urls.append(QUrl::fromLocalFile(file));
    DragSource source(urls);
    source.setGeometry(args[1].toInt(), args[2].toInt(), 80, 60);
    source.show();
    std::printf("ready\n");
    std::fflush(stdout);
    return QApplication::exec();
}
